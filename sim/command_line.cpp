#include "sim/command_line.h"

#include "link/request_frame.h"
#include "sim/ird_responder.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace vireo::sim {

namespace {

struct BadArgument
{
    std::string why;
};

long long integer(const std::string& option, const std::string& text, long long max)
{
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > max) {
        throw BadArgument{option + ": expected a number from 0 to " + std::to_string(max) +
                          ", got \"" + text + "\""};
    }
    return value;
}

// "0.25" or "25%".
double share(const std::string& option, const std::string& text)
{
    const bool percent = !text.empty() && text.back() == '%';
    const std::string number = percent ? text.substr(0, text.size() - 1) : text;
    char* end = nullptr;
    double value = std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0') {
        value = -1;
    }
    if (percent) {
        value /= 100;
    }
    if (!(value >= 0 && value <= 1)) {
        throw BadArgument{option + ": expected a share from 0 to 1 (or 0% to 100%), got \"" + text +
                          "\""};
    }
    return value;
}

// A request code as a number or by name ("UpdateAll", "0x6A", "106").
uint8_t requestCode(const std::string& option, const std::string& text)
{
    for (int code = 0; code < 256; ++code) {
        if (!RequestPayloadLength(static_cast<uint8_t>(code))) {
            continue;
        }
        const std::string name = MessageName(static_cast<uint8_t>(code), true);
        bool same = name.size() == text.size();
        for (size_t i = 0; same && i < name.size(); ++i) {
            same = std::tolower(static_cast<unsigned char>(name[i])) ==
                   std::tolower(static_cast<unsigned char>(text[i]));
        }
        if (same) {
            return static_cast<uint8_t>(code);
        }
    }
    return static_cast<uint8_t>(integer(option, text, 255));
}

std::pair<std::string, std::string> splitAt(const std::string& option, const std::string& text,
                                            char separator, const char* expected)
{
    const size_t at = text.find(separator);
    if (at == std::string::npos) {
        throw BadArgument{option + ": expected " + expected + ", got \"" + text + "\""};
    }
    return {text.substr(0, at), text.substr(at + 1)};
}

} // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error)
{
    CommandLine line;
    FaultOptions& faults = line.options.faults;
    using Handler = std::function<void(const std::string& option, const std::string& value)>;
    const std::map<std::string, Handler> withValue = {
        {"--address", [&](auto&, auto& v) { line.address = v; }},
        {"--port",
         [&](auto& o, auto& v) { line.port = static_cast<uint16_t>(integer(o, v, 65535)); }},
        {"--db", [&](auto&, auto& v) { line.databaseFile = v; }},
        {"--generate",
         [&](auto& o, auto& v) {
             line.size = ParseDatabaseSize(v);
             if (!line.size) {
                 throw BadArgument{o + ": expected SATS,TPS,TV,RADIO, got \"" + v + "\""};
             }
         }},
        {"--seed",
         [&](auto& o, auto& v) {
             line.options.seed = static_cast<uint32_t>(integer(o, v, 0xFFFFFFFF));
         }},
        {"--drop", [&](auto& o, auto& v) { faults.dropShare = share(o, v); }},
        {"--drop-burst", [&](auto& o, auto& v) { faults.burstDropShare = share(o, v); }},
        {"--corrupt", [&](auto& o, auto& v) { faults.corruptShare = share(o, v); }},
        {"--cut", [&](auto& o, auto& v) { faults.cutShare = share(o, v); }},
        {"--cut-pause",
         [&](auto& o, auto& v) { faults.cutPauseMs = static_cast<int>(integer(o, v, 60000)); }},
        {"--garbage", [&](auto& o, auto& v) { faults.garbageShare = share(o, v); }},
        {"--delay",
         [&](auto& o, auto& v) { faults.delayMs = static_cast<int>(integer(o, v, 600000)); }},
        {"--scan-time",
         [&](auto& o, auto& v) { faults.scanMs = static_cast<int>(integer(o, v, 600000)); }},
        {"--close-after",
         [&](auto& o, auto& v) {
             faults.closeAfterFrames = static_cast<unsigned>(integer(o, v, 1000000));
         }},
        {"--status",
         [&](auto& o, auto& v) {
             const auto [code, value] = splitAt(o, v, '=', "CODE=STATUS");
             faults.statusOverrides[requestCode(o, code)] =
                 static_cast<uint8_t>(integer(o, value, 255));
         }},
        {"--upgrade-block-ms",
         [&](auto& o, auto& v) {
             faults.upgrade.blockStepMs = static_cast<int>(integer(o, v, 60000));
         }},
        {"--upgrade-write-ms",
         [&](auto& o, auto& v) {
             faults.upgrade.writeStepMs = static_cast<int>(integer(o, v, 600000));
         }},
        {"--upgrade-status",
         [&](auto& o, auto& v) {
             faults.upgrade.transferStatus = static_cast<uint16_t>(integer(o, v, 65535));
         }},
        {"--upgrade-final-status",
         [&](auto& o, auto& v) {
             faults.upgrade.finalStatus = static_cast<uint16_t>(integer(o, v, 65535));
         }},
        {"--upgrade-close-at",
         [&](auto& o, auto& v) {
             faults.upgrade.closeAtBlock = static_cast<int>(integer(o, v, 1 << 20));
         }},
        {"--upgrade-id-at",
         [&](auto& o, auto& v) {
             faults.upgrade.deviceIdAtBlock = static_cast<int>(integer(o, v, 1 << 20));
         }},
        {"--upgrade-unexpected",
         [&](auto& o, auto& v) {
             // N stray frames before each writing report
             const int n = static_cast<int>(integer(o, v, 2));
             std::vector<int> writing;
             for (int percent : {25, 50, 75, 100}) {
                 writing.insert(writing.end(), static_cast<size_t>(n), -1);
                 writing.push_back(percent);
             }
             faults.upgrade.writing = writing;
         }},
        {"--hang-up",
         [&](auto& o, auto& v) {
             if (v == "close") {
                 faults.hangUp = FaultOptions::HangUp::Close;
             } else if (v == "half") {
                 faults.hangUp = FaultOptions::HangUp::HalfClose;
             } else {
                 throw BadArgument{o + ": expected close or half, got \"" + v + "\""};
             }
         }},
        {"--flood-signal",
         [&](auto& o, auto& v) {
             faults.floodSignalPerSecond = static_cast<int>(integer(o, v, 1000000));
         }},
        {"--signal",
         [&](auto& o, auto& v) {
             const auto [intensity, quality] = splitAt(o, v, ',', "INTENSITY,QUALITY");
             line.options.signal.intensity = static_cast<uint8_t>(integer(o, intensity, 99));
             line.options.signal.quality = static_cast<uint8_t>(integer(o, quality, 99));
         }},
    };
    const std::map<std::string, std::function<void()>> flags = {
        {"--dump-db", [&] { line.dumpDatabase = true; }},
        {"--silent", [&] { faults.silent = true; }},
        {"--no-ci-card", [&] { faults.noCiCard = true; }},
        {"--reorder", [&] { faults.reorder = true; }},
        {"--same-answer", [&] { faults.sameAnswer = true; }},
        {"--dense", [&] { line.numbering = Numbering::Dense; }},
        {"--verbose", [&] { line.options.verbose = true; }},
        {"-v", [&] { line.options.verbose = true; }},
        {"--help", [&] { line.help = true; }},
        {"-h", [&] { line.help = true; }},
    };

    try {
        for (size_t i = 0; i < args.size(); ++i) {
            std::string option = args[i];
            std::optional<std::string> value;
            if (const size_t eq = option.find('=');
                option.rfind("--", 0) == 0 && eq != option.npos) {
                value = option.substr(eq + 1);
                option.resize(eq);
            }
            if (auto flag = flags.find(option); flag != flags.end() && !value) {
                flag->second();
            } else if (auto handler = withValue.find(option); handler != withValue.end()) {
                if (!value) {
                    if (i + 1 == args.size()) {
                        throw BadArgument{option + " needs a value"};
                    }
                    value = args[++i];
                }
                handler->second(option, *value);
            } else {
                throw BadArgument{"unknown option \"" + args[i] + "\" (see --help)"};
            }
        }
        if (!line.databaseFile.empty() && line.size) {
            throw BadArgument{"--db and --generate exclude each other"};
        }
    } catch (const BadArgument& bad) {
        if (error != nullptr) {
            *error = bad.why;
        }
        return std::nullopt;
    }
    return line;
}

std::string UsageText()
{
    return R"(Usage: vireo-ird-sim [options]

Plays a satellite IRD on a loopback address: answers the manager's requests on
TCP (port 8888 by default) from a device database, and can misbehave on demand.
Stop it with Ctrl+C.

Device:
  --address ADDR        listen address, 127.x.y.z only (default 127.0.0.1)
  --port N              listen port (default 8888; 0 picks a free port, the
                        line "listening on ADDR:PORT" on standard output tells it)
  --db FILE             load the database from a JSON file
  --generate S,T,V,R    generate S satellites, T transponders, V TV and R radio
                        programs (at most 255 each); the same every time.
                        Without --db or --generate: 6,40,60,20. Indices
                        leave gaps, as on a device where records were
                        deleted and added again
  --dense               number generated records 0, 1, 2... in list order
  --dump-db             print the database as JSON and exit
  --signal I,Q          signal intensity and quality reported while a program
                        plays, 0 to 99 each (default 78,64)

Faults (SHARE is 0 to 1 or a percentage like 25%):
  --seed N              seed of the fault draws (default 1); connection n
                        draws from (N, n), so a run repeats exactly
  --drop SHARE          do not send this share of replies
  --drop-burst SHARE    do not send this share of the UpdateAll burst frames
                        (the final StatusReply counts as a reply)
  --corrupt SHARE       send this share of frames with a wrong CRC
  --cut SHARE           write this share of frames in two pieces, cut at a
                        random byte
  --cut-pause MS        pause between the two pieces (default 1)
  --garbage SHARE       put 1 to 16 random bytes before this share of frames;
                        they may hold start bytes that stall the receiver
                        until more data comes, as line noise would
  --delay MS            wait this long before answering each request
  --scan-time MS        a scan answers this long after it was asked, with one
                        newly found TV program (StopScan ends it early)
  --silent              never answer
  --no-ci-card          no CI card inserted: MultiDescramble gets status 39
  --close-after N       close a connection once it has sent N frames
  --hang-up close|half  accept each connection and close it at once (half:
                        shut only the sending side and never answer)
  --reorder             send the records of an answer that holds several
                        (the UpdateAll burst, a whole list) in shuffled order
  --same-answer         answer every query for one record with the first
                        record of its list, an answer that adds nothing
  --flood-signal N      once UpdateAll is answered, send N SignalStatus frames a
                        second, unasked, for as long as the connection lasts
                        (a device that floods its manager)
  --status CODE=STATUS  answer every request CODE with a StatusReply of STATUS
                        instead (CODE as a number or name: 0x6A, UpdateAll);
                        repeatable. Example: --status QueryTp=35

Upgrade (StartUpgrade is accepted with status 175; the link then carries
the upgrade, and a connection that opens with an upgrade frame goes on one):
  --upgrade-block-ms MS   time each block request takes (default 0)
  --upgrade-write-ms MS   time each writing report takes (default 0)
  --upgrade-status N      status once all blocks are in (default 0: taken)
  --upgrade-final-status N  status when writing ends (default 0: upgraded;
                        the device then installs the announced version and
                        closes the connection, as it restarts)
  --upgrade-close-at K    close the connection instead of asking for block K
  --upgrade-id-at K       ask for the announcement again before block K
  --upgrade-unexpected N  send N (0 to 2) stray frames before each writing
                        report

Other:
  -v, --verbose         log every frame received (<-), sent (->) or dropped
                        (--) in hex on standard error
  -h, --help            show this text

Database file (UTF-8 JSON, names stored on the device in GBK):
  {"satellites": [{index, prev, next, flags, lo_high, lo_low, name}],
   "transponders": [{index, satellite, prev, next, frequency, symbol_rate,
                     modulation, pilot, polarisation, fec, label}],
   "tv", "radio": [{index, link, next, tp, pcr_pid, video_pid, teletext_pid,
                    scrambled, module, audio: [{type, pid}], audio_choice,
                    name, label}],
   "playing": {index, kind}, "system": "40 hex digits",
   "volume": {level, muted}, "version": [4 numbers]}
  Lists are in device order; 255 means none. label is derived and ignored on
  reading; prev/next may be left out. --dump-db shows a complete example.
)";
}

} // namespace vireo::sim
