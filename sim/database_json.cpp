#include "sim/database_json.h"

#include "lang/display_text.h"
#include "lang/gbk_text.h"

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

namespace vireo::sim {

namespace {

using Json = nlohmann::ordered_json;

// A reading problem, caught at the top and turned into the error text.
struct BadFile : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

std::string hexOf(const uint8_t* data, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

// Adds "name" (display text) and, when that does not give the bytes back,
// "name_hex" (the bytes themselves), as the manager's dump writes them.
void addName(Json& object, const std::string& gbk)
{
    const JsonName name = NameForJson(gbk);
    object["name"] = name.text;
    if (!name.hex.empty()) {
        object["name_hex"] = name.hex;
    }
}

Json programToJson(const Program& p)
{
    Json audio = Json::array();
    for (const Audio& a : p.audio) {
        audio.push_back(Json{{"type", a.type}, {"pid", a.pid}});
    }
    Json json{{"index", p.index},
              {"link", p.link},
              {"next", p.next},
              {"tp", p.tp},
              {"pcr_pid", p.pcrPid},
              {"video_pid", p.videoPid},
              {"teletext_pid", p.teletextPid},
              {"scrambled", p.scrambled},
              {"module", p.module},
              {"audio", audio},
              {"audio_choice", p.audioChoice}};
    addName(json, p.name);
    json["label"] = GbkToUtf8(ProgramLabel(p));
    return json;
}

// Reads one object, refusing keys it does not know.
class Reader
{
public:
    Reader(const Json& object, std::string where) : m_object(object), m_where(std::move(where))
    {
        if (!m_object.is_object()) {
            throw BadFile(m_where + ": expected an object");
        }
    }

    void allow(std::initializer_list<const char*> keys) const
    {
        for (const auto& item : m_object.items()) {
            bool known = false;
            for (const char* key : keys) {
                known = known || item.key() == key;
            }
            if (!known) {
                throw BadFile(m_where + ": unknown key \"" + item.key() + "\"");
            }
        }
    }

    bool has(const char* key) const { return m_object.contains(key); }

    // A number from 0 to `max`, also accepted as text ("0x1FFF", "8191").
    unsigned number(const char* key, unsigned max, std::optional<unsigned> fallback = 0) const
    {
        if (!has(key)) {
            if (!fallback) {
                throw BadFile(m_where + ": \"" + key + "\" is missing");
            }
            return *fallback;
        }
        const Json& v = m_object.at(key);
        long long value = -1;
        if (v.is_boolean()) {
            value = v.get<bool>() ? 1 : 0;
        } else if (v.is_number_integer()) {
            value = v.get<long long>();
        } else if (v.is_string()) {
            const std::string text = v.get<std::string>();
            size_t used = 0;
            try {
                value = std::stoll(text, &used, 0);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size()) {
                value = -1;
            }
        }
        if (value < 0 || value > static_cast<long long>(max)) {
            throw BadFile(m_where + ": \"" + key + "\" must be a number from 0 to " +
                          std::to_string(max));
        }
        return static_cast<unsigned>(value);
    }

    uint8_t byte(const char* key, std::optional<unsigned> fallback = 0) const
    {
        return static_cast<uint8_t>(number(key, 255, fallback));
    }

    uint16_t word(const char* key, unsigned max = 0xFFFF) const
    {
        return static_cast<uint16_t>(number(key, max));
    }

    // "name_hex" when given (any bytes but NUL), else "name" converted to GBK.
    std::string name() const
    {
        if (!has("name_hex")) {
            return name("name");
        }
        const Json& v = m_object.at("name_hex");
        const std::string hex = v.is_string() ? v.get<std::string>() : std::string();
        if (hex.size() % 2 != 0 || hex.size() > 2 * kMaxNameBytes ||
            hex.find_first_not_of("0123456789abcdefABCDEF") != hex.npos) {
            throw BadFile(m_where + ": \"name_hex\" must be up to 31 bytes in hexadecimal");
        }
        std::string bytes;
        for (size_t i = 0; i < hex.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        if (bytes.find('\0') != bytes.npos) {
            throw BadFile(m_where + ": \"name_hex\" holds a NUL byte");
        }
        return bytes;
    }

    std::string name(const char* key) const
    {
        if (!has(key) || !m_object.at(key).is_string()) {
            throw BadFile(m_where + ": \"" + key + "\" must be a text");
        }
        const std::optional<std::string> gbk = Utf8ToGbk(m_object.at(key).get<std::string>());
        if (!gbk) {
            throw BadFile(m_where + ": \"" + key + "\" cannot be written in GBK");
        }
        if (gbk->size() > kMaxNameBytes) {
            throw BadFile(m_where + ": \"" + key + "\" takes " + std::to_string(gbk->size()) +
                          " bytes in GBK, at most 31 fit");
        }
        return *gbk;
    }

    const Json& list(const char* key) const
    {
        const Json& v = m_object.at(key);
        if (!v.is_array()) {
            throw BadFile(m_where + ": \"" + key + "\" must be a list");
        }
        return v;
    }

    const std::string& where() const { return m_where; }

private:
    const Json& m_object;
    std::string m_where;
};

Program readProgram(const Reader& r)
{
    r.allow({"index", "link", "next", "tp", "pcr_pid", "video_pid", "teletext_pid", "scrambled",
             "module", "audio", "audio_choice", "name", "name_hex", "label"});
    Program p;
    p.link = r.byte("link", std::nullopt);
    p.tp = r.byte("tp", std::nullopt);
    p.pcrPid = r.word("pcr_pid");
    p.videoPid = r.word("video_pid", kMaxPid);
    p.teletextPid = r.word("teletext_pid");
    p.scrambled = r.byte("scrambled");
    p.module = r.byte("module");
    p.audioChoice = r.byte("audio_choice");
    p.name = r.name();
    if (r.has("audio")) {
        const Json& audio = r.list("audio");
        if (audio.size() > p.audio.size()) {
            throw BadFile(r.where() + ": at most 3 audios");
        }
        for (size_t i = 0; i < audio.size(); ++i) {
            const Reader a(audio[i], r.where() + " audio " + std::to_string(i + 1));
            a.allow({"type", "pid"});
            p.audio[i].type = static_cast<uint8_t>(a.number("type", 7));
            p.audio[i].pid = a.word("pid", kMaxPid);
        }
    }
    return p;
}

DeviceDatabase readDatabase(const Json& root)
{
    const Reader top(root, "database");
    // A snapshot's head (format, time, device) says nothing about the database.
    top.allow({"format", "taken_at", "device", "satellites", "transponders", "tv", "radio",
               "playing", "system", "volume", "version"});
    DeviceDatabase db;
    // Links the file leaves out are taken from the list order afterwards.
    std::vector<bool> satLinks, tpLinks, tvLinks, radioLinks;

    if (top.has("satellites")) {
        const Json& list = top.list("satellites");
        for (size_t i = 0; i < list.size(); ++i) {
            const Reader r(list[i], "satellite " + std::to_string(i + 1));
            r.allow({"index", "prev", "next", "flags", "lo_high", "lo_low", "name", "name_hex"});
            Satellite s;
            s.index = r.byte("index", std::nullopt);
            s.prev = r.byte("prev", kNone);
            s.next = r.byte("next", kNone);
            s.flags = r.byte("flags");
            s.loHigh = r.word("lo_high");
            s.loLow = r.word("lo_low");
            s.name = r.name();
            satLinks.push_back(r.has("prev") && r.has("next"));
            db.satellites.push_back(std::move(s));
        }
    }
    if (top.has("transponders")) {
        const Json& list = top.list("transponders");
        for (size_t i = 0; i < list.size(); ++i) {
            const Reader r(list[i], "transponder " + std::to_string(i + 1));
            r.allow({"index", "satellite", "prev", "next", "frequency", "symbol_rate", "modulation",
                     "pilot", "polarisation", "fec", "label"});
            Transponder t;
            t.index = r.byte("index", std::nullopt);
            t.satellite = r.byte("satellite", std::nullopt);
            t.prev = r.byte("prev", kNone);
            t.next = r.byte("next", kNone);
            t.frequency = r.word("frequency");
            t.symbolRate = r.word("symbol_rate");
            t.modulation = r.byte("modulation");
            t.pilot = r.byte("pilot");
            t.polarisation = r.byte("polarisation");
            t.fec = r.byte("fec");
            tpLinks.push_back(r.has("prev") && r.has("next"));
            db.transponders.push_back(t);
        }
    }
    for (const char* kind : {"tv", "radio"}) {
        if (!top.has(kind)) {
            continue;
        }
        const bool tv = std::string_view(kind) == "tv";
        const Json& list = top.list(kind);
        for (size_t i = 0; i < list.size(); ++i) {
            const Reader r(list[i],
                           std::string(tv ? "TV" : "radio") + " program " + std::to_string(i + 1));
            Program p = readProgram(r);
            p.index = r.byte("index", static_cast<unsigned>(std::min<size_t>(i, kNone)));
            p.next = r.byte("next", kNone);
            (tv ? tvLinks : radioLinks).push_back(r.has("next"));
            (tv ? db.tv : db.radio).push_back(std::move(p));
        }
    }

    if (top.has("playing")) {
        const Reader r(root.at("playing"), "playing");
        r.allow({"index", "kind"});
        db.playing.index = r.byte("index", kNone);
        db.playing.kind = r.byte("kind");
    }
    if (top.has("system")) {
        const Json& v = root.at("system");
        const std::string hex = v.is_string() ? v.get<std::string>() : std::string();
        if (hex.size() != 40 || hex.find_first_not_of("0123456789abcdefABCDEF") != hex.npos) {
            throw BadFile("system: expected 40 hexadecimal digits");
        }
        for (size_t i = 0; i < db.system.size(); ++i) {
            db.system[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
        }
    }
    if (top.has("volume")) {
        const Reader r(root.at("volume"), "volume");
        r.allow({"level", "muted"});
        db.volume.level = static_cast<uint8_t>(r.number("level", 15, 8));
        db.volume.muted = r.number("muted", 1) != 0;
    }
    if (top.has("version")) {
        const Json& list = top.list("version");
        if (list.size() != db.version.size()) {
            throw BadFile("version: expected 4 numbers");
        }
        for (size_t i = 0; i < db.version.size(); ++i) {
            if (!list[i].is_number_integer() || list[i].get<long long>() < 0 ||
                list[i].get<long long>() > 255) {
                throw BadFile("version: expected numbers from 0 to 255");
            }
            db.version[i] = list[i].get<uint8_t>();
        }
    }

    DeviceDatabase linked = db;
    RelinkDatabase(linked);
    auto fill = [](auto& list, const auto& from, const std::vector<bool>& given, auto copy) {
        for (size_t i = 0; i < list.size(); ++i) {
            if (!given[i]) {
                copy(list[i], from[i]);
            }
        }
    };
    auto chain = [](auto& to, const auto& from) {
        to.prev = from.prev;
        to.next = from.next;
    };
    fill(db.satellites, linked.satellites, satLinks, chain);
    fill(db.transponders, linked.transponders, tpLinks, chain);
    auto next = [](Program& to, const Program& from) { to.next = from.next; };
    fill(db.tv, linked.tv, tvLinks, next);
    fill(db.radio, linked.radio, radioLinks, next);
    return db;
}

} // namespace

nlohmann::ordered_json DatabaseToJsonValue(const DeviceDatabase& db)
{
    Json satellites = Json::array();
    for (const Satellite& s : db.satellites) {
        Json satellite{{"index", s.index}, {"prev", s.prev},      {"next", s.next},
                       {"flags", s.flags}, {"lo_high", s.loHigh}, {"lo_low", s.loLow}};
        addName(satellite, s.name);
        satellites.push_back(std::move(satellite));
    }
    Json transponders = Json::array();
    for (const Transponder& t : db.transponders) {
        transponders.push_back(Json{{"index", t.index},
                                    {"satellite", t.satellite},
                                    {"prev", t.prev},
                                    {"next", t.next},
                                    {"frequency", t.frequency},
                                    {"symbol_rate", t.symbolRate},
                                    {"modulation", t.modulation},
                                    {"pilot", t.pilot},
                                    {"polarisation", t.polarisation},
                                    {"fec", t.fec},
                                    {"label", TransponderLabel(t)}});
    }
    Json tv = Json::array();
    for (const Program& p : db.tv) {
        tv.push_back(programToJson(p));
    }
    Json radio = Json::array();
    for (const Program& p : db.radio) {
        radio.push_back(programToJson(p));
    }
    Json version = Json::array();
    for (uint8_t v : db.version) {
        version.push_back(v);
    }
    return Json{{"satellites", satellites},
                {"transponders", transponders},
                {"tv", tv},
                {"radio", radio},
                {"playing", Json{{"index", db.playing.index}, {"kind", db.playing.kind}}},
                {"system", hexOf(db.system.data(), db.system.size())},
                {"volume", Json{{"level", db.volume.level}, {"muted", db.volume.muted}}},
                {"version", version}};
}

std::string DatabaseToJson(const DeviceDatabase& db)
{
    return DatabaseToJsonValue(db).dump(2) + "\n";
}

std::optional<DeviceDatabase> DatabaseFromJson(std::string_view text, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    DeviceDatabase db;
    try {
        db = readDatabase(Json::parse(text));
    } catch (const BadFile& e) {
        return fail(e.what());
    } catch (const nlohmann::json::exception& e) {
        return fail(std::string("not valid JSON: ") + e.what());
    }
    const std::vector<std::string> problems = CheckDatabase(db);
    if (!problems.empty()) {
        std::string why = "inconsistent database:";
        for (const std::string& p : problems) {
            why += "\n  " + p;
        }
        return fail(why);
    }
    return db;
}

std::optional<DeviceDatabase> LoadDatabaseFile(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr) {
            *error = "cannot read " + path;
        }
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::optional<DeviceDatabase> db = DatabaseFromJson(text.str(), error);
    if (!db && error != nullptr) {
        *error = path + ": " + *error;
    }
    return db;
}

} // namespace vireo::sim
