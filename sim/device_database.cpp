#include "sim/device_database.h"

#include "lang/display_text.h"
#include "lang/gbk_text.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vireo::sim {

namespace {

void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

std::string format(const char* fmt, auto... args)
{
    char text[160];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

std::string nameProblem(const std::string& name)
{
    if (name.size() > kMaxNameBytes) {
        return format("name is %zu bytes, at most %zu fit", name.size(), kMaxNameBytes);
    }
    if (name.find('\0') != std::string::npos) {
        return "name holds a NUL byte";
    }
    return {};
}

// Checks a chain kept in list order: first previous index 0xFF, each next
// index naming the following record, unique indices below 0xFF.
template <typename Record>
void checkChain(const std::vector<Record>& list, const char* what,
                std::vector<std::string>& problems)
{
    if (list.size() > kMaxItems) {
        problems.push_back(format("%zu %ss, at most %zu fit", list.size(), what, kMaxItems));
        return;
    }
    std::bitset<256> seen;
    for (size_t i = 0; i < list.size(); ++i) {
        const Record& r = list[i];
        if (r.index == kNone) {
            problems.push_back(format("%s at position %zu has index 0xFF", what, i));
        } else if (seen.test(r.index)) {
            problems.push_back(format("%s index %d is used twice", what, r.index));
        }
        seen.set(r.index);
        const uint8_t prev = i == 0 ? kNone : list[i - 1].index;
        const uint8_t next = i + 1 == list.size() ? kNone : list[i + 1].index;
        if (r.prev != prev) {
            problems.push_back(
                format("%s %d: previous index %d, expected %d", what, r.index, r.prev, prev));
        }
        if (r.next != next) {
            problems.push_back(
                format("%s %d: next index %d, expected %d", what, r.index, r.next, next));
        }
    }
}

void checkPrograms(const DeviceDatabase& db, uint8_t kind, std::vector<std::string>& problems)
{
    const std::vector<Program>& list = db.Programs(kind);
    const char* what = kind == kKindTv ? "TV program" : "radio program";
    if (list.size() > kMaxItems) {
        problems.push_back(format("%zu %ss, at most %zu fit", list.size(), what, kMaxItems));
        return;
    }
    std::bitset<256> links;
    for (size_t i = 0; i < list.size(); ++i) {
        const Program& p = list[i];
        if (p.index != i) {
            problems.push_back(format("%s at position %zu has index %d", what, i, p.index));
        }
        if (p.link == kNone) {
            problems.push_back(format("%s %d has link number 0xFF", what, p.index));
        } else if (links.test(p.link)) {
            problems.push_back(format("%s link number %d is used twice", what, p.link));
        }
        links.set(p.link);
        const uint8_t next = i + 1 == list.size() ? kNone : list[i + 1].link;
        if (p.next != next) {
            problems.push_back(
                format("%s %d: next link %d, expected %d", what, p.index, p.next, next));
        }
        if (FindTransponder(db, p.tp) == nullptr) {
            problems.push_back(format("%s %d: no transponder %d", what, p.index, p.tp));
        }
        if (p.videoPid > kMaxPid) {
            problems.push_back(format("%s %d: video PID %d too large", what, p.index, p.videoPid));
        }
        for (const Audio& a : p.audio) {
            if (a.type > 7 || a.pid > kMaxPid) {
                problems.push_back(format("%s %d: audio type %d PID %d out of range", what, p.index,
                                          a.type, a.pid));
            }
        }
        if (const std::string bad = nameProblem(p.name); !bad.empty()) {
            problems.push_back(format("%s %d: %s", what, p.index, bad.c_str()));
        }
    }
}

} // namespace

const Satellite* FindSatellite(const DeviceDatabase& db, uint8_t index)
{
    auto it = std::find_if(db.satellites.begin(), db.satellites.end(),
                           [index](const Satellite& s) { return s.index == index; });
    return it == db.satellites.end() ? nullptr : &*it;
}

const Transponder* FindTransponder(const DeviceDatabase& db, uint8_t index)
{
    auto it = std::find_if(db.transponders.begin(), db.transponders.end(),
                           [index](const Transponder& t) { return t.index == index; });
    return it == db.transponders.end() ? nullptr : &*it;
}

const Program* FindProgram(const DeviceDatabase& db, uint8_t kind, uint8_t index)
{
    if (kind != kKindTv && kind != kKindRadio) {
        return nullptr;
    }
    const std::vector<Program>& list = db.Programs(kind);
    return index < list.size() && list[index].index == index ? &list[index] : nullptr;
}

Program* FindProgram(DeviceDatabase& db, uint8_t kind, uint8_t index)
{
    return const_cast<Program*>(FindProgram(std::as_const(db), kind, index));
}

std::vector<std::string> CheckDatabase(const DeviceDatabase& db)
{
    std::vector<std::string> problems;
    checkChain(db.satellites, "satellite", problems);
    for (const Satellite& s : db.satellites) {
        if (const std::string bad = nameProblem(s.name); !bad.empty()) {
            problems.push_back(format("satellite %d: %s", s.index, bad.c_str()));
        }
    }
    checkChain(db.transponders, "transponder", problems);
    for (const Transponder& t : db.transponders) {
        if (FindSatellite(db, t.satellite) == nullptr) {
            problems.push_back(format("transponder %d: no satellite %d", t.index, t.satellite));
        }
    }
    checkPrograms(db, kKindTv, problems);
    checkPrograms(db, kKindRadio, problems);
    if (db.playing.index != kNone &&
        FindProgram(db, db.playing.kind, db.playing.index) == nullptr) {
        problems.push_back(format("playing program %d of kind %d does not exist", db.playing.index,
                                  db.playing.kind));
    }
    if (db.volume.level > 15) {
        problems.push_back(format("volume %d, at most 15", db.volume.level));
    }
    return problems;
}

void RelinkDatabase(DeviceDatabase& db)
{
    auto relinkChain = [](auto& list) {
        for (size_t i = 0; i < list.size(); ++i) {
            list[i].prev = i == 0 ? kNone : list[i - 1].index;
            list[i].next = i + 1 == list.size() ? kNone : list[i + 1].index;
        }
    };
    relinkChain(db.satellites);
    relinkChain(db.transponders);
    for (std::vector<Program>* list : {&db.tv, &db.radio}) {
        for (size_t i = 0; i < list->size(); ++i) {
            (*list)[i].index = static_cast<uint8_t>(i);
            (*list)[i].next = i + 1 == list->size() ? kNone : (*list)[i + 1].link;
        }
    }
}

std::string TransponderLabel(const Transponder& tp)
{
    return format("%d %c %d", tp.frequency, tp.polarisation != 0 ? 'H' : 'V', tp.symbolRate);
}

std::string ProgramLabel(const Program& program)
{
    return format("P %03d:%c ", program.index + 1, program.scrambled != 0 ? '$' : ' ') +
           DisplayText(program.name.substr(0, kMaxNameBytes));
}

std::array<uint8_t, 40> EncodeSatellite(const Satellite& sat)
{
    std::array<uint8_t, 40> r{};
    r[0] = sat.index;
    r[1] = sat.prev;
    r[2] = sat.next;
    r[3] = sat.flags;
    put16(&r[4], sat.loHigh);
    put16(&r[6], sat.loLow);
    std::memcpy(&r[8], sat.name.data(), std::min(sat.name.size(), kMaxNameBytes));
    return r;
}

std::array<uint8_t, 12> EncodeTransponder(const Transponder& tp)
{
    std::array<uint8_t, 12> r{};
    r[0] = tp.index;
    r[1] = tp.satellite;
    r[2] = tp.prev;
    r[3] = tp.next;
    put16(&r[4], tp.frequency);
    put16(&r[6], tp.symbolRate);
    r[8] = tp.modulation;
    r[9] = tp.pilot;
    r[10] = tp.polarisation;
    r[11] = tp.fec;
    return r;
}

std::array<uint8_t, 20> EncodeProgram(const Program& program, uint8_t kind)
{
    std::array<uint8_t, 20> r{};
    r[0] = program.index;
    r[1] = program.link;
    r[2] = program.next;
    r[3] = program.tp;
    put16(&r[4], program.pcrPid);
    put16(&r[6], static_cast<uint16_t>((program.videoPid << 3) | (kind & 0x07)));
    put16(&r[8], program.teletextPid);
    r[10] = program.scrambled;
    r[11] = program.module;
    for (size_t i = 0; i < program.audio.size(); ++i) {
        const Audio& a = program.audio[i];
        put16(&r[12 + 2 * i], static_cast<uint16_t>((a.pid << 3) | (a.type & 0x07)));
    }
    r[18] = program.audioChoice;
    return r;
}

uint8_t EncodeVolume(const Volume& volume)
{
    return static_cast<uint8_t>((volume.level & 0x0F) | (volume.muted ? 0x80 : 0));
}

Satellite DecodeSatellite(const uint8_t* record40)
{
    Satellite s;
    s.index = record40[0];
    s.prev = record40[1];
    s.next = record40[2];
    s.flags = record40[3];
    s.loHigh = get16(record40 + 4);
    s.loLow = get16(record40 + 6);
    const char* name = reinterpret_cast<const char*>(record40 + 8);
    // A name that fills all 32 bytes leaves no room for its NUL: cut it.
    s.name = CutGbk(std::string_view(name, strnlen(name, 32)), kMaxNameBytes);
    return s;
}

Transponder DecodeTransponder(const uint8_t* record12)
{
    Transponder t;
    t.index = record12[0];
    t.satellite = record12[1];
    t.prev = record12[2];
    t.next = record12[3];
    t.frequency = get16(record12 + 4);
    t.symbolRate = get16(record12 + 6);
    t.modulation = record12[8];
    t.pilot = record12[9];
    t.polarisation = record12[10];
    t.fec = record12[11];
    return t;
}

} // namespace vireo::sim
