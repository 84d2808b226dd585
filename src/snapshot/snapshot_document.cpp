#include "snapshot/snapshot_document.h"

#include "database/list_manager.h"
#include "lang/display_text.h"
#include "lang/gbk_text.h"
#include "snapshot/snapshot.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace vireo {

namespace {

using Json = nlohmann::ordered_json;

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

// Adds "name" (display text) and, when that does not give the bytes back,
// "name_hex" (the IRD's bytes).
void addName(Json& object, std::string_view gbk)
{
    const JsonName name = NameForJson(gbk);
    object["name"] = name.text;
    if (!name.hex.empty()) {
        object["name_hex"] = name.hex;
    }
}

Json programJson(const ProgramRecord& p)
{
    Json audio = Json::array();
    for (int n = 0; n < 3; ++n) {
        audio.push_back(Json{{"type", p.Audio(n) & 0x07}, {"pid", p.Audio(n) >> 3}});
    }
    Json json{{"index", p.Index()},
              {"link", p.LinkNumber()},
              {"next", p.NextLink()},
              {"tp", p.TpIndex()},
              {"pcr_pid", p.PcrPid()},
              {"video_pid", p.VideoPid()},
              {"teletext_pid", p.TeletextPid()},
              {"scrambled", p.wire[10]},
              {"module", p.ModuleState()},
              {"audio", audio},
              {"audio_choice", p.AudioChoice()}};
    addName(json, p.name);
    json["label"] = GbkToUtf8(p.label);
    return json;
}

Json satelliteJson(const SatelliteRecord& s)
{
    Json satellite{{"index", s.Index()}, {"prev", s.PreviousIndex()}, {"next", s.NextIndex()},
                   {"flags", s.wire[3]}, {"lo_high", s.HighLo()},     {"lo_low", s.LowLo()}};
    addName(satellite, s.Name());
    return satellite;
}

Json tpJson(const TpRecord& t)
{
    return Json{{"index", t.Index()},           {"satellite", t.SatelliteIndex()},
                {"prev", t.PreviousIndex()},    {"next", t.NextIndex()},
                {"frequency", t.Frequency()},   {"symbol_rate", t.SymbolRate()},
                {"modulation", t.Modulation()}, {"pilot", t.Pilot()},
                {"polarisation", t.wire[10]},   {"fec", t.Fec()},
                {"label", GbkToUtf8(t.label)}};
}

Json databaseValue(ListManager& db)
{
    Json satellites = Json::array();
    {
        std::lock_guard lock(db.SatelliteLock());
        for (const auto& s : db.Satellites()) {
            satellites.push_back(satelliteJson(*s));
        }
    }
    Json transponders = Json::array();
    {
        std::lock_guard lock(db.TpLock());
        for (const auto& t : db.Tps()) {
            transponders.push_back(tpJson(*t));
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
    return root;
}

} // namespace

std::string DatabaseJson(ListManager& db)
{
    return databaseValue(db).dump(2) + "\n";
}

std::string DatabaseJson(ListManager& db, const SnapshotHeader& header)
{
    const JsonName name = NameForJson(header.name);
    Json root{{"format", kSnapshotFormat},
              {"taken_at", IsoTimeUtc(header.takenAt)},
              {"device", Json{{"address", header.address}, {"name", name.text}}}};
    const Json database = databaseValue(db);
    for (const auto& [key, value] : database.items()) {
        root[key] = value;
    }
    return root.dump(2) + "\n";
}

std::string SnapshotJson(const Snapshot& snapshot)
{
    Json root{{"format", kSnapshotFormat}};
    if (!snapshot.takenAt.empty()) {
        root["taken_at"] = snapshot.takenAt;
    }
    root["device"] =
        Json{{"address", snapshot.address}, {"name", NameForJson(snapshot.deviceName).text}};
    Json lists[4] = {Json::array(), Json::array(), Json::array(), Json::array()};
    for (const SatelliteRecord& s : snapshot.satellites) {
        lists[0].push_back(satelliteJson(s));
    }
    for (const TpRecord& t : snapshot.transponders) {
        lists[1].push_back(tpJson(t));
    }
    for (const ProgramRecord& p : snapshot.tv) {
        lists[2].push_back(programJson(p));
    }
    for (const ProgramRecord& p : snapshot.radio) {
        lists[3].push_back(programJson(p));
    }
    root["satellites"] = std::move(lists[0]);
    root["transponders"] = std::move(lists[1]);
    root["tv"] = std::move(lists[2]);
    root["radio"] = std::move(lists[3]);
    if (snapshot.system) {
        root["system"] = hex(snapshot.system->wire.data(), snapshot.system->wire.size());
    }
    if (snapshot.volume) {
        root["volume"] =
            Json{{"level", snapshot.volume->volume}, {"muted", snapshot.volume->mute != 0}};
    }
    if (snapshot.version) {
        Json version = Json::array();
        for (uint8_t v : snapshot.version->bytes) {
            version.push_back(v);
        }
        root["version"] = std::move(version);
    }
    return root.dump(2) + "\n";
}

std::string IsoTimeUtc(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace vireo
