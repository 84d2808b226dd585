#include "sim/database_generator.h"

#include "lang/gbk_text.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

namespace vireo::sim {

namespace {

struct SatelliteModel
{
    const char* name; // UTF-8
    bool cBand;
};

// Real orbital slots first; the ones with 31-byte names fill the whole field.
constexpr SatelliteModel kSatellites[] = {
    {"Astra 19.2E", false},       {"Hot Bird 13.0E", false},
    {"中星6B 115.5E", true},      {"Eutelsat 7 West A Atlantic Bird", false},
    {"AsiaSat 7 105.5E", true},   {"亚太7号 76.5E", true},
    {"Astra 28.2E", false},       {"中星六号乙卫星东经一百一十五度5", true},
    {"Eutelsat 16A", false},      {"Thor 0.8W", false},
    {"Intelsat 20 68.5E", true},  {"Türksat 42.0E", false},
    {"Hispasat 30.0W", false},    {"Badr 26.0E", false},
    {"Apstar 6C 134.0E", true},   {"Yamal 401 90.0E", false},
    {"Express AM6 53.0E", false}, {"NSS 12 57.0E", true},
};

constexpr const char* kTvNames[] = {
    "CCTV-1 综合",
    "BBC World News",
    "Das Erste HD",
    "ZDF HD",
    "湖南卫视",
    "TF1",
    "RTL Television",
    "中央电视台综合频道高清国际版本1",
    "Al Jazeera English",
    "凤凰卫视中文台",
    "Arte",
    "France 24",
    "Discovery Channel HD Europe Fee",
    "CNN International",
    "东方卫视",
    "Eurosport 1",
    "3sat",
    "KiKA",
    "Phoenix",
    "RAI 1",
    "TVE Internacional",
    "NHK World",
    "浙江卫视",
    "DW English",
    "Euronews",
    "Sky News",
    "CCTV-4 中文国际",
    "TV5Monde",
    "ORF 2 Europe",
    "Bloomberg TV",
};

constexpr const char* kRadioNames[] = {
    "BBC Radio 4",
    "Deutschlandfunk",
    "中国之声",
    "France Inter",
    "中央人民广播电台中国之声新闻台1",
    "Bayern 3",
    "RNE Radio Exterior",
    "中国国际广播电台",
    "Deutschlandfunk Kultur Digital!",
    "Radio Swiss Jazz",
    "NDR Info",
    "Classic FM",
    "Radio Vaticana",
    "音乐之声",
    "SWR3",
    "WDR 5",
};

constexpr uint16_t kSymbolRates[] = {27500, 22000, 30000, 29900, 27000, 4340, 6111, 3333};
constexpr uint8_t kModulations[] = {2, 2, 0, 1, 2, 3};

std::string gbk(const std::string& utf8)
{
    return CutGbk(Utf8ToGbk(utf8).value_or(std::string("?")), kMaxNameBytes);
}

std::string numbered(const char* prefix, size_t n)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s %03zu", prefix, n);
    return text;
}

// A satellite beyond the named ones: a made-up slot, east then west.
std::string extraSatelliteName(size_t n)
{
    char text[32];
    const unsigned tenths = static_cast<unsigned>((n * 37) % 1800);
    std::snprintf(text, sizeof text, "Sat %03zu %u.%u%c", n, tenths / 10, tenths % 10,
                  n % 2 == 0 ? 'E' : 'W');
    return text;
}

// `count` distinct indices below 255 in list order: all of them when the list
// is full, else a fixed spread with gaps; the second index of the list was
// taken last (it stands at the end).
std::vector<uint8_t> listIndices(size_t count, Numbering numbering, uint32_t salt)
{
    std::vector<uint8_t> indices(kMaxItems);
    for (size_t i = 0; i < kMaxItems; ++i) {
        indices[i] = static_cast<uint8_t>(i);
    }
    if (numbering == Numbering::Dense) {
        indices.resize(count);
        return indices;
    }
    if (count < kMaxItems) {
        std::mt19937 random(salt);
        std::shuffle(indices.begin(), indices.end(), random);
        indices.resize(count);
        std::sort(indices.begin(), indices.end());
    }
    if (count >= 4) {
        std::rotate(indices.begin() + 1, indices.begin() + 2, indices.end());
    }
    return indices;
}

Program makeProgram(size_t j, uint8_t kind, size_t total, const std::vector<uint8_t>& tps,
                    uint32_t variant)
{
    Program p;
    p.index = static_cast<uint8_t>(j);
    // Link numbers are slots of the device's table, not positions.
    p.link =
        static_cast<uint8_t>(kind == kKindTv ? (j * 7 + 3) % kMaxItems : (j * 11 + 5) % kMaxItems);
    p.tp = tps[j * tps.size() / total];
    if (kind == kKindTv) {
        const uint16_t video = static_cast<uint16_t>(0x100 + 0x10 * j);
        p.videoPid = video;
        p.pcrPid = video;
        p.audio[0] = {1, static_cast<uint16_t>(video + 1)};
        if (j % 3 == 1) {
            p.audio[1] = {4, static_cast<uint16_t>(video + 2)};
        }
        if (j % 7 == 2) {
            p.audio[2] = {1, static_cast<uint16_t>(video + 4)};
        }
        p.teletextPid = j % 4 == 0 ? static_cast<uint16_t>(video + 3) : 0;
        constexpr size_t named = std::size(kTvNames);
        p.name = gbk(j < named ? kTvNames[(j + variant) % named] : numbered("TV Channel", j + 1));
    } else {
        const uint16_t audio = static_cast<uint16_t>(0x800 + 0x10 * j);
        p.pcrPid = audio;
        p.audio[0] = {1, audio};
        if (j % 5 == 3) {
            p.audio[1] = {1, static_cast<uint16_t>(audio + 1)};
        }
        constexpr size_t named = std::size(kRadioNames);
        p.name = gbk(j < named ? kRadioNames[(j + variant / 3) % named] : numbered("Radio", j + 1));
    }
    p.scrambled = j % 5 == 4 ? 1 : 0;
    p.module = p.scrambled != 0 ? static_cast<uint8_t>(j % 3) : 0;
    if (p.audio[1].pid != 0 && j % 2 == 0) {
        p.audioChoice = 1;
    } else if (j % 17 == 9) {
        p.audioChoice = 0xF0;
    }
    return p;
}

} // namespace

std::optional<DatabaseSize> ParseDatabaseSize(const std::string& text)
{
    std::istringstream in(text);
    size_t values[4];
    char comma = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (in.peek() == '-' || !(in >> values[i])) {
            return std::nullopt;
        }
        if (i < 3 && (!(in >> comma) || comma != ',')) {
            return std::nullopt;
        }
    }
    if (in.peek() != std::char_traits<char>::eof()) {
        return std::nullopt;
    }
    return DatabaseSize{values[0], values[1], values[2], values[3]};
}

std::optional<DeviceDatabase> GenerateDatabase(const DatabaseSize& size, std::string* error,
                                               Numbering numbering, uint32_t variant)
{
    auto fail = [error](const char* why) {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    if (size.satellites > kMaxItems || size.transponders > kMaxItems || size.tv > kMaxItems ||
        size.radio > kMaxItems) {
        return fail("at most 255 of each kind");
    }
    if (size.transponders > 0 && size.satellites == 0) {
        return fail("transponders need at least one satellite");
    }
    if (size.tv + size.radio > 0 && size.transponders == 0) {
        return fail("programs need at least one transponder");
    }

    DeviceDatabase db;
    constexpr size_t named = std::size(kSatellites);
    // Variant 0 is the classic database; any other starts the name lists at
    // another place and draws other gaps and frequencies from it.
    const auto satelliteAt = [&](size_t i) -> const SatelliteModel* {
        return i < named ? &kSatellites[(i + variant) % named] : nullptr;
    };
    const std::vector<uint8_t> satelliteIndices =
        listIndices(size.satellites, numbering, 3 + variant * 7919);
    const std::vector<uint8_t> tpIndices =
        listIndices(size.transponders, numbering, 17 + variant * 7919);
    const size_t frequencyStep = variant % 211;
    for (size_t i = 0; i < size.satellites; ++i) {
        Satellite s;
        s.index = satelliteIndices[i];
        const SatelliteModel* model = satelliteAt(i);
        const bool cBand = model != nullptr && model->cBand;
        s.name = gbk(model != nullptr ? model->name : extraSatelliteName(i));
        s.loHigh = cBand ? 5150 : 10600;
        s.loLow = cBand ? 5150 : 9750;
        s.flags = cBand ? 0x00 : 0x04;
        if (i < 4) {
            s.flags |= static_cast<uint8_t>(0x10 | ((i + 1) << 5)); // DiSEqC ports A to D
        }
        db.satellites.push_back(std::move(s));
    }
    for (size_t k = 0; k < size.transponders; ++k) {
        Transponder t;
        t.index = tpIndices[k];
        const size_t satellite = k * size.satellites / size.transponders;
        t.satellite = satelliteIndices[satellite];
        const SatelliteModel* model = satelliteAt(satellite);
        const bool cBand = model != nullptr && model->cBand;
        const size_t step = k + frequencyStep;
        t.frequency =
            static_cast<uint16_t>(cBand ? 3600 + (step * 23) % 600 : 10714 + (step * 37) % 2000);
        t.symbolRate = kSymbolRates[k % std::size(kSymbolRates)];
        t.modulation = kModulations[k % std::size(kModulations)];
        t.pilot = t.modulation <= 1 && k % 2 == 0 ? 1 : 0;
        t.polarisation = k % 2 == 0 ? 1 : 0;
        t.fec = static_cast<uint8_t>(k % 4);
        db.transponders.push_back(t);
    }
    for (size_t j = 0; j < size.tv; ++j) {
        db.tv.push_back(makeProgram(j, kKindTv, size.tv, tpIndices, variant));
    }
    for (size_t j = 0; j < size.radio; ++j) {
        db.radio.push_back(makeProgram(j, kKindRadio, size.radio, tpIndices, variant));
    }
    RelinkDatabase(db);

    if (!db.tv.empty()) {
        db.playing = {static_cast<uint8_t>(variant % db.tv.size()), kKindTv};
    } else if (!db.radio.empty()) {
        db.playing = {0, kKindRadio};
    }
    // Polling interval 400, English menus, 16:9, satellite input, 1080I@50Hz,
    // descrambled TS output of 188-byte packets; 192.168.1.100/24.
    db.system = {0x04, 0x80, 0x0C, 0x00, 192,  168,  1,    100,  255, 255,
                 255,  0,    0x00, 0x1C, 0xA5, 0x3E, 0x00, 0x01, 0,   0};
    db.volume = {8, false};
    db.version = {1, 6, static_cast<uint8_t>(2 + variant % 3), 29};
    return db;
}

} // namespace vireo::sim
