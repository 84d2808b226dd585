#include "snapshot/snapshot.h"

#include "database/list_manager.h"
#include "lang/gbk_text.h"

#include <fstream>
#include <initializer_list>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace vireo {

namespace {

using Json = nlohmann::json;

struct BadDocument : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

void writeLe16(uint8_t* at, unsigned value)
{
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

std::optional<std::string> bytesFromHex(const std::string& hex)
{
    if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != hex.npos) {
        return std::nullopt;
    }
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// One object of the document. Unknown keys are ignored: documents written by
// a later version of the tool stay readable.
class Fields
{
public:
    Fields(const Json& object, std::string where) : m_object(object), m_where(std::move(where))
    {
        if (!m_object.is_object()) {
            throw BadDocument(m_where + ": expected an object");
        }
    }

    bool has(const char* key) const { return m_object.contains(key); }

    // A whole number from 0 to `max`: a JSON number, a boolean or a text in
    // decimal or hexadecimal. Missing: `fallback`, or an error without one.
    unsigned number(const char* key, unsigned max, std::optional<unsigned> fallback = 0) const
    {
        if (!has(key)) {
            if (!fallback) {
                throw BadDocument(m_where + ": \"" + key + "\" is missing");
            }
            return *fallback;
        }
        const std::optional<long long> value = read(m_object.at(key));
        if (!value || *value < 0 || *value > static_cast<long long>(max)) {
            throw BadDocument(m_where + ": \"" + key + "\" must be a number from 0 to " +
                              std::to_string(max));
        }
        return static_cast<unsigned>(*value);
    }

    uint8_t byte(const char* key, std::optional<unsigned> fallback = 0) const
    {
        return static_cast<uint8_t>(number(key, 0xFF, fallback));
    }

    // The name's GBK bytes: "name_hex" when present, else "name".
    std::string name(size_t maxBytes) const
    {
        std::string bytes;
        if (has("name_hex")) {
            const Json& v = m_object.at("name_hex");
            const std::optional<std::string> decoded =
                v.is_string() ? bytesFromHex(v.get<std::string>()) : std::nullopt;
            if (!decoded || decoded->find('\0') != std::string::npos) {
                throw BadDocument(m_where + ": \"name_hex\" must be bytes in hexadecimal");
            }
            bytes = *decoded;
        } else if (has("name")) {
            bytes = gbk("name");
        }
        if (bytes.size() > maxBytes) {
            throw BadDocument(m_where + ": the name takes " + std::to_string(bytes.size()) +
                              " bytes, at most " + std::to_string(maxBytes) + " fit");
        }
        return bytes;
    }

    std::string gbk(const char* key) const
    {
        const Json& v = m_object.at(key);
        const std::optional<std::string> text =
            v.is_string() ? Utf8ToGbk(v.get<std::string>()) : std::nullopt;
        if (!text) {
            throw BadDocument(m_where + ": \"" + key + "\" must be a text GBK can hold");
        }
        return *text;
    }

    std::string text(const char* key) const
    {
        if (!has(key)) {
            return {};
        }
        const Json& v = m_object.at(key);
        if (!v.is_string()) {
            throw BadDocument(m_where + ": \"" + key + "\" must be a text");
        }
        return v.get<std::string>();
    }

    const Json& list(const char* key) const
    {
        const Json& v = m_object.at(key);
        if (!v.is_array()) {
            throw BadDocument(m_where + ": \"" + key + "\" must be a list");
        }
        return v;
    }

    const Json& at(const char* key) const { return m_object.at(key); }
    const std::string& where() const { return m_where; }

    static std::optional<long long> read(const Json& v)
    {
        if (v.is_boolean()) {
            return v.get<bool>() ? 1 : 0;
        }
        if (v.is_number_integer()) {
            return v.get<long long>();
        }
        if (!v.is_string()) {
            return std::nullopt;
        }
        const std::string text = v.get<std::string>();
        size_t used = 0;
        long long value = -1;
        try {
            value = std::stoll(text, &used, 0);
        } catch (const std::exception&) {
            return std::nullopt;
        }
        if (used == 0 || used != text.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    const Json& m_object;
    std::string m_where;
};

SatelliteRecord readSatellite(const Fields& f)
{
    SatelliteRecord s;
    s.wire[0] = f.byte("index", std::nullopt);
    s.wire[1] = f.byte("prev", kNoIndex);
    s.wire[2] = f.byte("next", kNoIndex);
    s.wire[3] = f.byte("flags");
    writeLe16(&s.wire[4], f.number("lo_high", 0xFFFF));
    writeLe16(&s.wire[6], f.number("lo_low", 0xFFFF));
    const std::string name = f.name(SatelliteRecord::kMaxName);
    std::copy(name.begin(), name.end(), s.wire.begin() + SatelliteRecord::kHeaderSize);
    return s;
}

TpRecord readTp(const Fields& f)
{
    TpRecord t;
    t.wire[0] = f.byte("index", std::nullopt);
    t.wire[1] = f.byte("satellite", std::nullopt);
    t.wire[2] = f.byte("prev", kNoIndex);
    t.wire[3] = f.byte("next", kNoIndex);
    writeLe16(&t.wire[4], f.number("frequency", 0xFFFF));
    writeLe16(&t.wire[6], f.number("symbol_rate", 0xFFFF));
    t.wire[8] = f.byte("modulation");
    t.wire[9] = f.byte("pilot");
    t.wire[10] = f.byte("polarisation");
    t.wire[11] = f.byte("fec");
    t.BuildLabel();
    return t;
}

ProgramRecord readProgram(const Fields& f, int kind, size_t position)
{
    constexpr unsigned kMaxPid = 0x1FFF;
    ProgramRecord p;
    p.wire[0] = f.byte("index", static_cast<unsigned>(std::min<size_t>(position, kNoIndex)));
    p.wire[1] = f.byte("link", std::nullopt);
    p.wire[2] = f.byte("next", kNoIndex);
    p.wire[3] = f.byte("tp", std::nullopt);
    writeLe16(&p.wire[4], f.number("pcr_pid", 0xFFFF));
    writeLe16(&p.wire[6], static_cast<unsigned>(kind) | (f.number("video_pid", kMaxPid) << 3));
    writeLe16(&p.wire[8], f.number("teletext_pid", 0xFFFF));
    p.wire[10] = f.byte("scrambled");
    p.wire[11] = f.byte("module");
    if (f.has("audio")) {
        const Json& audio = f.list("audio");
        if (audio.size() > 3) {
            throw BadDocument(f.where() + ": at most 3 audios");
        }
        for (size_t i = 0; i < audio.size(); ++i) {
            const Fields a(audio[i], f.where() + " audio " + std::to_string(i + 1));
            writeLe16(&p.wire[12 + 2 * i], a.number("type", 7) | (a.number("pid", kMaxPid) << 3));
        }
    }
    p.wire[18] = f.byte("audio_choice");
    p.name = f.name(ProgramRecord::kMaxName);
    p.BuildLabel();
    return p;
}

Snapshot readDocument(const Json& root)
{
    const Fields top(root, "document");
    Snapshot snapshot;
    if (top.has("format")) {
        snapshot.format = static_cast<int>(top.number("format", 1000));
    }
    snapshot.takenAt = top.text("taken_at");
    if (top.has("device")) {
        const Fields device(top.at("device"), "device");
        snapshot.address = device.text("address");
        if (device.has("name")) {
            snapshot.deviceName = device.gbk("name");
        }
    }
    auto each = [&top](const char* key, const char* what, auto read) {
        if (!top.has(key)) {
            return;
        }
        const Json& list = top.list(key);
        if (list.size() > kNoIndex) {
            throw BadDocument(std::string(key) + ": more records than a device can number");
        }
        for (size_t i = 0; i < list.size(); ++i) {
            read(Fields(list[i], std::string(what) + " " + std::to_string(i + 1)), i);
        }
    };
    each("satellites", "satellite",
         [&](const Fields& f, size_t) { snapshot.satellites.push_back(readSatellite(f)); });
    each("transponders", "transponder",
         [&](const Fields& f, size_t) { snapshot.transponders.push_back(readTp(f)); });
    each("tv", "TV program", [&](const Fields& f, size_t i) {
        snapshot.tv.push_back(readProgram(f, item_kind::Tv, i));
    });
    each("radio", "radio program", [&](const Fields& f, size_t i) {
        snapshot.radio.push_back(readProgram(f, item_kind::Radio, i));
    });
    if (top.has("system")) {
        const Json& v = top.at("system");
        const std::optional<std::string> bytes =
            v.is_string() ? bytesFromHex(v.get<std::string>()) : std::nullopt;
        if (!bytes || bytes->size() != SystemRecord::kWireSize) {
            throw BadDocument("system: expected 40 hexadecimal digits");
        }
        SystemRecord system;
        std::copy(bytes->begin(), bytes->end(), system.wire.begin());
        snapshot.system = system;
    }
    if (top.has("volume")) {
        const Fields f(top.at("volume"), "volume");
        snapshot.volume = VolumeState{static_cast<uint8_t>(f.number("level", 15)),
                                      static_cast<uint8_t>(f.number("muted", 1))};
    }
    if (top.has("version")) {
        const Json& list = top.list("version");
        if (list.size() != 4) {
            throw BadDocument("version: expected 4 numbers");
        }
        VersionRecord version;
        for (size_t i = 0; i < 4; ++i) {
            const std::optional<long long> v = Fields::read(list[i]);
            if (!v || *v < 0 || *v > 255) {
                throw BadDocument("version: expected numbers from 0 to 255");
            }
            version.bytes[i] = static_cast<uint8_t>(*v);
        }
        snapshot.version = version;
    }
    return snapshot;
}

template <class Record> std::vector<Record> copyList(const ListManager::List<Record>& list)
{
    std::vector<Record> out;
    out.reserve(list.size());
    for (const auto& record : list) {
        out.push_back(*record);
    }
    return out;
}

} // namespace

Snapshot SnapshotOf(ListManager& database)
{
    Snapshot snapshot;
    snapshot.format = 1;
    {
        std::lock_guard lock(database.SatelliteLock());
        snapshot.satellites = copyList(database.Satellites());
    }
    {
        std::lock_guard lock(database.TpLock());
        snapshot.transponders = copyList(database.Tps());
    }
    for (int kind : {item_kind::Tv, item_kind::Radio}) {
        std::lock_guard lock(database.ProgramLock(kind));
        (kind == item_kind::Tv ? snapshot.tv : snapshot.radio) = copyList(database.Programs(kind));
    }
    // The copies name no tree node: they are not the database's records.
    for (auto& s : snapshot.satellites) {
        s.tvNode = s.radioNode = kNoTreeNode;
    }
    for (auto& t : snapshot.transponders) {
        t.tvNode = t.radioNode = kNoTreeNode;
    }
    for (auto* list : {&snapshot.tv, &snapshot.radio}) {
        for (auto& p : *list) {
            p.node = kNoTreeNode;
        }
    }
    snapshot.system = database.System();
    snapshot.volume = database.Volume();
    snapshot.version = database.Version();
    return snapshot;
}

std::optional<Snapshot> ReadSnapshot(std::string_view json, std::string* error)
{
    auto fail = [error](const std::string& why) -> std::optional<Snapshot> {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    try {
        return readDocument(Json::parse(json));
    } catch (const BadDocument& e) {
        return fail(e.what());
    } catch (const nlohmann::json::exception& e) {
        return fail(std::string("not valid JSON: ") + e.what());
    }
}

std::optional<Snapshot> ReadSnapshotFile(const std::string& path, std::string* error)
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
    std::optional<Snapshot> snapshot = ReadSnapshot(text.str(), error);
    if (!snapshot && error != nullptr) {
        *error = path + ": " + *error;
    }
    return snapshot;
}

} // namespace vireo
