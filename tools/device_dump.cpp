#include "device_dump.h"

#include "database/list_manager.h"
#include "device/address_text.h"
#include "device/device_core.h"
#include "lang/gbk_text.h"
#include "lang/language_table.h"
#include "link/message_code.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

namespace vireo {

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// The tool has no window: a refresh the device asks for is run by the main
// loop, everything else the link shows is dropped.
class DumpView : public NullDeviceView
{
public:
    void PostRefresh() override { refreshWanted = true; }

    std::atomic<bool> refreshWanted{false};
};

// Remembers the last log line, for the one-line reason of a failure.
class LastLine : public LogPaneObserver
{
public:
    explicit LastLine(bool echo) : m_echo(echo) {}
    void OnLogLineAdded(const std::string& line) override
    {
        if (m_echo) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        std::lock_guard lock(m_mutex);
        const size_t cut = line.find("): ");
        m_last = cut == std::string::npos ? line : line.substr(cut + 3);
    }
    void OnLogCleared() override {}
    std::string Get() const
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    const bool m_echo;
    mutable std::mutex m_mutex;
    std::string m_last;
};

std::string hex(const uint8_t* bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

Json programJson(const ProgramRecord& p)
{
    Json audio = Json::array();
    for (int n = 0; n < 3; ++n) {
        audio.push_back(Json{{"type", p.Audio(n) & 0x07}, {"pid", p.Audio(n) >> 3}});
    }
    return Json{{"index", p.Index()},
                {"link", p.LinkNumber()},
                {"next", p.NextLink()},
                {"tp", p.TpIndex()},
                {"pcr_pid", p.PcrPid()},
                {"video_pid", p.VideoPid()},
                {"teletext_pid", p.TeletextPid()},
                {"scrambled", p.wire[10]},
                {"module", p.ModuleState()},
                {"audio", audio},
                {"audio_choice", p.AudioChoice()},
                {"name", GbkToUtf8(p.name)},
                {"label", GbkToUtf8(p.label)}};
}

// Every list is whole and every single record is held.
bool complete(ListManager& db)
{
    for (int kind : {item_kind::Satellites, item_kind::Tps, item_kind::Tv, item_kind::Radio,
                     item_kind::System, item_kind::Volume, item_kind::Version}) {
        if (!db.IsComplete(kind)) {
            return false;
        }
    }
    if (!db.PlayingKnown()) {
        return false;
    }
    // What plays must be a program of its list (or nothing plays).
    const PlayingRecord playing = db.Playing();
    return playing.Index() == kNoIndex ||
           db.FindProgram(playing.Kind(), playing.Index()) != nullptr;
}

// Asks for the first missing piece, in the order of a refresh.
void requery(ListManager& db)
{
    for (int kind :
         {item_kind::System, item_kind::Volume, item_kind::Version, item_kind::Satellites,
          item_kind::Tps, item_kind::Tv, item_kind::Radio, item_kind::PlayingUnlocked}) {
        if (!db.CheckComplete(kind)) {
            return;
        }
    }
}

} // namespace

std::string DatabaseJson(ListManager& db)
{
    Json satellites = Json::array();
    {
        std::lock_guard lock(db.SatelliteLock());
        for (const auto& s : db.Satellites()) {
            satellites.push_back(Json{{"index", s->Index()},
                                      {"prev", s->PreviousIndex()},
                                      {"next", s->NextIndex()},
                                      {"flags", s->wire[3]},
                                      {"lo_high", s->HighLo()},
                                      {"lo_low", s->LowLo()},
                                      {"name", GbkToUtf8(s->Name())}});
        }
    }
    Json transponders = Json::array();
    {
        std::lock_guard lock(db.TpLock());
        for (const auto& t : db.Tps()) {
            transponders.push_back(Json{{"index", t->Index()},
                                        {"satellite", t->SatelliteIndex()},
                                        {"prev", t->PreviousIndex()},
                                        {"next", t->NextIndex()},
                                        {"frequency", t->Frequency()},
                                        {"symbol_rate", t->SymbolRate()},
                                        {"modulation", t->Modulation()},
                                        {"pilot", t->Pilot()},
                                        {"polarisation", t->wire[10]},
                                        {"fec", t->Fec()},
                                        {"label", GbkToUtf8(t->label)}});
        }
    }
    Json programs[2] = {Json::array(), Json::array()};
    for (int kind : {item_kind::Tv, item_kind::Radio}) {
        std::lock_guard lock(db.ProgramLock(kind));
        for (const auto& p : db.Programs(kind)) {
            programs[kind - 1].push_back(programJson(*p));
        }
    }
    const PlayingRecord playing = db.Playing();
    const SystemRecord system = db.System().value_or(SystemRecord{});
    const VolumeState volume = db.Volume().value_or(VolumeState{});
    const VersionRecord version = db.Version().value_or(VersionRecord{});
    Json versionJson = Json::array();
    for (uint8_t v : version.bytes) {
        versionJson.push_back(v);
    }
    const Json root{{"satellites", satellites},
                    {"transponders", transponders},
                    {"tv", programs[0]},
                    {"radio", programs[1]},
                    {"playing", Json{{"index", playing.Index()}, {"kind", playing.Kind()}}},
                    {"system", hex(system.wire.data(), system.wire.size())},
                    {"volume", Json{{"level", volume.volume}, {"muted", volume.mute != 0}}},
                    {"version", versionJson}};
    return root.dump(2) + "\n";
}

DumpResult RunDeviceDump(const DumpOptions& options)
{
    DumpResult result;
    if (!IsValidIPv4Text(options.address)) {
        result.exitCode = 1;
        result.reason = "not an IPv4 address: " + options.address;
        return result;
    }
    SetLanguageFlag(1);
    BuildLanguageTable();

    SessionContext context;
    DumpView view;
    LastLine lastLine(options.verbose);
    DeviceCore core(context, view, options.address + ":", {}, "Logs");
    core.LogPane().SetObserver(&lastLine);
    DeviceSession& session = core.Session();

    const auto deadline = Clock::now() + options.timeLimit;
    if (!session.ConnectAndStart()) {
        result.exitCode = 2;
        result.reason = "cannot connect to " + options.address + ": " + lastLine.Get();
        core.LogPane().SetObserver(nullptr);
        return result;
    }

    auto idleSince = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (view.refreshWanted.exchange(false)) {
            session.RefreshIrd();
        }
        const std::shared_ptr<ListManager> db = core.Database();
        if (!session.linked && !session.threadRunning) {
            result.exitCode = 2;
            result.reason = "connection to " + options.address + " lost: " + lastLine.Get();
            break;
        }
        if (db && db->GaveUp()) {
            result.exitCode = 3;
            result.reason = "the answers of " + options.address +
                            " never completed its lists: " + lastLine.Get();
            break;
        }
        const std::shared_ptr<OperEventQueue> queue = session.Queue();
        const bool idle = session.CurrentCode() == 0 && (queue == nullptr || queue->IsEmpty());
        if (db && db->Loaded() && idle && complete(*db)) {
            result.json = DatabaseJson(*db);
            break;
        }
        if (!idle) {
            idleSince = Clock::now();
        } else if (db && db->Loaded() && Clock::now() - idleSince >= options.idleRequery) {
            requery(*db); // a reply was lost: ask again for what is missing
            idleSince = Clock::now();
        }
        if (Clock::now() >= deadline) {
            result.exitCode = 3;
            result.reason = "no complete refresh of " + options.address + " within " +
                            std::to_string(options.timeLimit.count() / 1000) + " s";
            break;
        }
    }
    core.LogPane().SetObserver(nullptr);
    core.Teardown();
    return result;
}

} // namespace vireo
