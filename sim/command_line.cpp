#include "sim/command_line.h"

#include "link/request_frame.h"
#include "sim/ird_responder.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

namespace {

// Every option, bound to `line`; shared by the parser and the help text.
void describe(CLI::App& app, CommandLine& line)
{
    FaultOptions& faults = line.options.faults;
    UpgradeFaults& upgrade = faults.upgrade;
    app.description("Plays a satellite IRD on a loopback address: answers the manager's requests "
                    "on TCP (port 8888 by default) from a device database, and can misbehave on "
                    "demand. Stop it with Ctrl+C.");
    app.set_help_flag();
    app.add_flag("-h,--help", line.help, "show this text");

    // A valued option whose text is checked and stored by `store`.
    const auto valued = [&app](const char* name, const char* type, auto store, const char* text) {
        return app
            .add_option_function<std::string>(
                name, [name, store](const std::string& v) { store(std::string(name), v); }, text)
            ->type_name(type);
    };
    const auto number = [](int& to, long long max) {
        return [&to, max](const std::string& o, const std::string& v) {
            to = static_cast<int>(integer(o, v, max));
        };
    };
    const auto shareOf = [](double& to) {
        return [&to](const std::string& o, const std::string& v) { to = share(o, v); };
    };
    const auto flag = [&app](const char* name, bool& to, const char* text) {
        return app.add_flag(name, to, text)->disable_flag_override();
    };

    const char* device = "Device";
    auto* single = valued(
                       "--address", "ADDR",
                       [&](const std::string&, const std::string& v) { line.address = v; },
                       "listen address, 127.x.y.z only (default 127.0.0.1)")
                       ->group(device);
    auto* many =
        valued(
            "--addresses", "FIRST-LAST",
            [&](const std::string& o, const std::string& v) {
                std::string why;
                line.addresses = ParseAddressRange(v, &why);
                if (!line.addresses) {
                    throw BadArgument{o + ": " + why};
                }
            },
            "play one IRD on every address from FIRST to LAST (e.g. 127.0.1.1-127.0.1.200; "
            "x.y.z.0 and x.y.z.255 left out; at most 8192) in one process, each with a database "
            "of its own drawn from its address (the same every run; with --db, copies of the "
            "file); faults and signal apply to all")
            ->group(device);
    single->excludes(many);
    valued(
        "--port", "N",
        [&](const std::string& o, const std::string& v) {
            line.port = static_cast<uint16_t>(integer(o, v, 65535));
        },
        "listen port (default 8888; 0 picks a free port, the line \"listening on ADDR:PORT\" "
        "on standard output tells it)")
        ->group(device);
    auto* db = valued(
                   "--db", "FILE",
                   [&](const std::string&, const std::string& v) { line.databaseFile = v; },
                   "load the database from a JSON file")
                   ->group(device);
    auto* generate =
        valued(
            "--generate", "S,T,V,R",
            [&](const std::string& o, const std::string& v) {
                line.size = ParseDatabaseSize(v);
                if (!line.size) {
                    throw BadArgument{o + ": expected SATS,TPS,TV,RADIO, got \"" + v + "\""};
                }
            },
            "generate S satellites, T transponders, V TV and R radio "
            "programs (at most 255 each); the same every time. Without --db or "
            "--generate: 6,40,60,20. Indices leave gaps, as on a device where "
            "records were deleted and added again")
            ->group(device);
    db->excludes(generate);
    app.add_flag_callback(
           "--dense", [&] { line.numbering = Numbering::Dense; },
           "number generated records 0, 1, 2... in list order")
        ->disable_flag_override()
        ->group(device);
    flag("--dump-db", line.dumpDatabase, "print the database as JSON and exit")->group(device);
    flag("--greet-after-restart", line.options.greetAfterRestart,
         "once back up after an upgrade, send the next client a signal report (by default the "
         "device stays silent until asked, as many do)")
        ->group(device);
    valued(
        "--signal", "I,Q",
        [&](const std::string& o, const std::string& v) {
            const auto [intensity, quality] = splitAt(o, v, ',', "INTENSITY,QUALITY");
            line.options.signal.intensity = static_cast<uint8_t>(integer(o, intensity, 99));
            line.options.signal.quality = static_cast<uint8_t>(integer(o, quality, 99));
        },
        "signal intensity and quality reported while a program plays, 0 to 99 each "
        "(default 78,64)")
        ->group(device);
    valued(
        "--signal-script", "FILE",
        [&](const std::string& o, const std::string& v) {
            std::ifstream in(v, std::ios::binary);
            if (!in) {
                throw BadArgument{o + ": cannot read \"" + v + "\""};
            }
            std::ostringstream text;
            text << in.rdbuf();
            std::string why;
            auto script = ParseSignalScript(text.str(), &why);
            if (!script) {
                throw BadArgument{o + ": " + v + ": " + why};
            }
            line.options.signalScript = std::move(*script);
        },
        "play the signal over time from FILE: lines of \"seconds intensity quality locked\", "
        "each level held for its seconds, the whole looping (e.g. \"60 78 64 1\" then "
        "\"12 0 0 0\" loses lock for 12 s every 72 s)")
        ->group(device);

    const char* faultGroup = "Faults (SHARE is 0 to 1 or a percentage like 25%)";
    valued(
        "--seed", "N",
        [&](const std::string& o, const std::string& v) {
            line.options.seed = static_cast<uint32_t>(integer(o, v, 0xFFFFFFFF));
        },
        "seed of the fault draws (default 1); connection n draws from (N, n), so a run "
        "repeats exactly")
        ->group(faultGroup);
    valued("--drop", "SHARE", shareOf(faults.dropShare), "do not send this share of replies")
        ->group(faultGroup);
    valued("--repeat", "SHARE", shareOf(faults.repeatShare),
           "send this share of frames a second time right after the first")
        ->group(faultGroup);
    valued("--drop-burst", "SHARE", shareOf(faults.burstDropShare),
           "do not send this share of the UpdateAll burst frames (the final StatusReply counts "
           "as a reply)")
        ->group(faultGroup);
    valued("--corrupt", "SHARE", shareOf(faults.corruptShare),
           "send this share of frames with a wrong CRC")
        ->group(faultGroup);
    valued("--cut", "SHARE", shareOf(faults.cutShare),
           "write this share of frames in two pieces, cut at a random byte")
        ->group(faultGroup);
    valued("--cut-pause", "MS", number(faults.cutPauseMs, 60000),
           "pause between the two pieces (default 1)")
        ->group(faultGroup);
    valued("--garbage", "SHARE", shareOf(faults.garbageShare),
           "put 1 to 16 random bytes before this share of frames; they may hold start bytes "
           "that stall the receiver until more data comes, as line noise would")
        ->group(faultGroup);
    valued("--delay", "MS", number(faults.delayMs, 600000),
           "wait this long before answering each "
           "request")
        ->group(faultGroup);
    valued("--scan-time", "MS", number(faults.scanMs, 600000),
           "a scan answers this long after it was asked, with one newly found TV program "
           "(StopScan ends it early)")
        ->group(faultGroup);
    flag("--silent", faults.silent, "never answer")->group(faultGroup);
    flag("--no-ci-card", faults.noCiCard, "no CI card inserted: MultiDescramble gets status 39")
        ->group(faultGroup);
    valued(
        "--satellite-room", "N",
        [&](const std::string& o, const std::string& v) {
            faults.satelliteRoom = static_cast<unsigned>(integer(o, v, 255));
        },
        "room for N satellites: AddSatellite beyond is refused with status 7")
        ->group(faultGroup);
    flag("--renumber", faults.renumber,
         "number satellites and transponders 0, 1, 2... anew after one is added or deleted")
        ->group(faultGroup);
    valued(
        "--close-after", "N",
        [&](const std::string& o, const std::string& v) {
            faults.closeAfterFrames = static_cast<unsigned>(integer(o, v, 1000000));
        },
        "close a connection once it has sent N frames")
        ->group(faultGroup);
    valued(
        "--write-fault", "refuse|drop|hold:N",
        [&](const std::string& o, const std::string& v) {
            const size_t colon = v.find(':');
            const std::string kind = v.substr(0, colon);
            if (kind == "refuse") {
                faults.writeFault = FaultOptions::WriteFault::Refuse;
            } else if (kind == "drop") {
                faults.writeFault = FaultOptions::WriteFault::Drop;
            } else if (kind == "hold") {
                faults.writeFault = FaultOptions::WriteFault::Hold;
            } else {
                throw BadArgument{o + ": expected refuse, drop or hold, then :N, got \"" + v +
                                  "\""};
            }
            if (colon == std::string::npos) {
                throw BadArgument{o + ": expected the write it hits after a colon, got \"" + v +
                                  "\""};
            }
            faults.faultAtWrite = static_cast<unsigned>(integer(o, v.substr(colon + 1), 1000000));
        },
        "write N (from 1) is refused (status 30), or taken and the connection closed before "
        "its answer (drop), or taken and never answered (hold)")
        ->group(faultGroup);
    valued(
        "--hang-up", "close|half",
        [&](const std::string& o, const std::string& v) {
            if (v == "close") {
                faults.hangUp = FaultOptions::HangUp::Close;
            } else if (v == "half") {
                faults.hangUp = FaultOptions::HangUp::HalfClose;
            } else {
                throw BadArgument{o + ": expected close or half, got \"" + v + "\""};
            }
        },
        "accept each connection and close it at once (half: shut only the sending "
        "side and never answer)")
        ->group(faultGroup);
    valued("--flood-signal", "N", number(faults.floodSignalPerSecond, 1000000),
           "once UpdateAll is answered, send N SignalStatus frames a second, unasked, for as "
           "long as the connection lasts (a device that floods its manager)")
        ->group(faultGroup);
    flag("--reorder", faults.reorder,
         "send the records of an answer that holds several (the UpdateAll burst, a whole list) "
         "in shuffled order")
        ->group(faultGroup);
    flag("--same-answer", faults.sameAnswer,
         "answer every query for one record with the first record of its list, an answer that "
         "adds nothing")
        ->group(faultGroup);
    app.add_option_function<std::vector<std::string>>(
           "--status",
           [&](const std::vector<std::string>& values) {
               for (const std::string& v : values) {
                   const auto [code, value] = splitAt("--status", v, '=', "CODE=STATUS");
                   faults.statusOverrides[requestCode("--status", code)] =
                       static_cast<uint8_t>(integer("--status", value, 255));
               }
           },
           "answer every request CODE with a StatusReply of STATUS instead (CODE "
           "as a number or name: 0x6A, UpdateAll); repeatable. Example: --status QueryTp=35")
        ->take_all()
        ->type_name("CODE=STATUS")
        ->group(faultGroup);

    const char* upgradeGroup = "Upgrade (StartUpgrade is accepted with status 175; the link then "
                               "carries the upgrade, and a connection that opens with an upgrade "
                               "frame goes on one)";
    valued("--upgrade-block-ms", "MS", number(upgrade.blockStepMs, 60000),
           "time each block request takes (default 0)")
        ->group(upgradeGroup);
    valued("--upgrade-write-ms", "MS", number(upgrade.writeStepMs, 600000),
           "time each writing report takes (default 0)")
        ->group(upgradeGroup);
    valued(
        "--upgrade-status", "N",
        [&](const std::string& o, const std::string& v) {
            upgrade.transferStatus = static_cast<uint16_t>(integer(o, v, 65535));
        },
        "status once all blocks are in (default 0: taken)")
        ->group(upgradeGroup);
    valued(
        "--upgrade-final-status", "N",
        [&](const std::string& o, const std::string& v) {
            upgrade.finalStatus = static_cast<uint16_t>(integer(o, v, 65535));
        },
        "status when writing ends (default 0: upgraded; the device then installs the "
        "announced version and closes the connection, as it restarts)")
        ->group(upgradeGroup);
    valued("--upgrade-close-at", "K", number(upgrade.closeAtBlock, 1 << 20),
           "close the connection instead of asking for block K")
        ->group(upgradeGroup);
    valued("--upgrade-id-at", "K", number(upgrade.deviceIdAtBlock, 1 << 20),
           "ask for the announcement again before block K")
        ->group(upgradeGroup);
    valued(
        "--upgrade-unexpected", "N",
        [&](const std::string& o, const std::string& v) {
            // N stray frames before each writing report
            const int n = static_cast<int>(integer(o, v, 2));
            std::vector<int> writing;
            for (int percent : {25, 50, 75, 100}) {
                writing.insert(writing.end(), static_cast<size_t>(n), -1);
                writing.push_back(percent);
            }
            upgrade.writing = writing;
        },
        "send N (0 to 2) stray frames before each writing report")
        ->group(upgradeGroup);

    flag("-v,--verbose", line.options.verbose,
         "log every frame received (<-), sent (->) or dropped (--) in hex on standard error")
        ->group("Other");
    app.footer(R"(Database file (UTF-8 JSON, names stored on the device in GBK):
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
  A name with bytes its text cannot carry (control bytes as \r, \n, \t or
  \xNN, bytes not GBK) also has name_hex, its bytes in hex, which wins on
  reading.)");
}

} // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error)
{
    CommandLine line;
    CLI::App app("", "vireo-ird-sim");
    describe(app, line);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them so
        app.parse(reversed);
    } catch (const CLI::ParseError& bad) {
        if (error != nullptr) {
            *error = bad.what();
        }
        return std::nullopt;
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
    CommandLine unused;
    CLI::App app("", "vireo-ird-sim");
    describe(app, unused);
    return app.help();
}

} // namespace vireo::sim
