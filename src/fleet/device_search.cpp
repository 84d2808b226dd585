#include "fleet/device_search.h"

#include "fleet/held_database.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>

namespace vireo {

namespace {

bool leadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<int> number(std::string_view text, int base)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool allDigits(std::string_view text)
{
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return !text.empty();
}

// "1FFh", "0x1FF": the PID; nullopt for anything else.
std::optional<int> hexPid(std::string_view text)
{
    std::string_view digits;
    if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H')) {
        digits = text.substr(0, text.size() - 1);
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        digits = text.substr(2);
    } else {
        return std::nullopt;
    }
    return number(digits, 16);
}

constexpr int kMaxPid = 0x1FFF;

char foldAscii(unsigned char c)
{
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Folds `text` into `out` (as FoldGbk); returns the length used.
size_t foldInto(std::string_view text, char* out, size_t capacity)
{
    const size_t n = std::min(text.size(), capacity);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (leadByte(c) && i + 1 < n) {
            out[i] = text[i];
            out[i + 1] = text[i + 1];
            ++i;
        } else {
            out[i] = foldAscii(c);
        }
    }
    return n;
}

// `folded` (already folded) occurs in `text` starting at a character boundary.
bool containsFolded(std::string_view text, std::string_view folded)
{
    char buffer[256];
    const size_t n = foldInto(text, buffer, sizeof buffer);
    if (folded.empty() || folded.size() > n) {
        return folded.empty();
    }
    size_t boundary = 0; // the character boundaries walked so far end here
    for (size_t from = 0; from + folded.size() <= n;) {
        const void* found = memmem(buffer + from, n - from, folded.data(), folded.size());
        if (found == nullptr) {
            return false;
        }
        const size_t at = static_cast<size_t>(static_cast<const char*>(found) - buffer);
        while (boundary < at) {
            boundary += leadByte(static_cast<unsigned char>(buffer[boundary])) ? 2 : 1;
        }
        if (boundary == at) {
            return true;
        }
        from = at + 1; // inside a two-byte character: look further
    }
    return false;
}

bool hasPid(const ProgramRecord& p, int pid)
{
    if (p.PcrPid() == pid || p.TeletextPid() == pid || (p.Kind() == 1 && p.VideoPid() == pid)) {
        return true;
    }
    for (int n = 0; n < 3; ++n) {
        const uint16_t audio = p.Audio(n);
        if ((audio >> 3) != 0 && (audio >> 3) == pid) {
            return true;
        }
    }
    return false;
}

std::string tpLabel(const TpRecord& tp)
{
    if (!tp.label.empty()) {
        return tp.label;
    }
    TpRecord copy = tp;
    copy.BuildLabel();
    return copy.label;
}

} // namespace

std::string FoldGbk(std::string_view text)
{
    std::string folded(text);
    for (size_t i = 0; i < folded.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(folded[i]);
        if (leadByte(c)) {
            ++i; // the trail byte stays
        } else {
            folded[i] = foldAscii(c);
        }
    }
    return folded;
}

std::optional<SearchQuery> ParseSearch(std::string_view text, SearchMode mode)
{
    text = trimmed(text);
    if (text.empty()) {
        return std::nullopt;
    }
    SearchQuery query;
    query.mode = mode;
    const std::optional<int> decimal = allDigits(text) ? number(text, 10) : std::nullopt;
    const std::optional<int> hex = hexPid(text);
    switch (mode) {
    case SearchMode::Name:
        query.name = FoldGbk(text);
        break;
    case SearchMode::Frequency:
        if (!decimal) {
            return std::nullopt;
        }
        query.frequency = *decimal;
        break;
    case SearchMode::Pid: {
        const std::optional<int> pid = hex ? hex : decimal;
        if (!pid || *pid > kMaxPid) {
            return std::nullopt;
        }
        query.pid = *pid;
        break;
    }
    case SearchMode::Any:
        query.name = FoldGbk(text);
        if (decimal) {
            query.frequency = *decimal;
            query.pid = *decimal <= kMaxPid ? *decimal : -1;
        } else if (hex && *hex <= kMaxPid) {
            query.pid = *hex;
        }
        break;
    }
    return query;
}

std::vector<SearchHit> SearchDevices(const std::vector<DeviceDatabaseRef>& devices,
                                     const SearchQuery& query, size_t limit)
{
    std::vector<SearchHit> hits;
    const bool byName = !query.name.empty();
    for (const DeviceDatabaseRef& device : devices) {
        if (!device.database || hits.size() >= limit) {
            continue;
        }
        ListManager& db = *device.database;
        const HeldDatabase held(db);
        const auto add = [&](SearchHit::Kind kind, SearchHit::Match match, const SatelliteRecord* s,
                             const TpRecord* t, const ProgramRecord* p) {
            if (hits.size() >= limit) {
                return;
            }
            SearchHit hit;
            hit.node = device.node;
            hit.caption = device.caption;
            hit.kind = kind;
            hit.match = match;
            if (s != nullptr) {
                hit.satellite = s->Name();
                hit.satelliteIndex = s->Index();
            }
            if (t != nullptr) {
                hit.transponder = tpLabel(*t);
                hit.tpIndex = t->Index();
            }
            if (p != nullptr) {
                hit.program = p->name;
                hit.programIndex = p->Index();
            }
            hits.push_back(std::move(hit));
        };

        for (const auto& s : db.Satellites()) {
            if (byName && containsFolded(s->Name(), query.name)) {
                add(SearchHit::Kind::Satellite, SearchHit::Match::Name, s.get(), nullptr, nullptr);
            }
        }
        if (query.frequency >= 0) {
            for (const auto& t : db.Tps()) {
                if (t->Frequency() == query.frequency) {
                    add(SearchHit::Kind::Transponder, SearchHit::Match::Frequency,
                        held.Satellite(t->SatelliteIndex()), t.get(), nullptr);
                }
            }
        }
        for (int kind : {1, 2}) {
            const auto hitKind =
                kind == 1 ? SearchHit::Kind::TvProgram : SearchHit::Kind::RadioProgram;
            for (const auto& p : db.Programs(kind)) {
                std::optional<SearchHit::Match> match;
                if (byName && containsFolded(p->name, query.name)) {
                    match = SearchHit::Match::Name;
                } else if (query.pid >= 0 && hasPid(*p, query.pid)) {
                    match = SearchHit::Match::Pid;
                }
                if (match) {
                    const TpRecord* t = held.Tp(p->TpIndex());
                    add(hitKind, *match,
                        t != nullptr ? held.Satellite(t->SatelliteIndex()) : nullptr, t, p.get());
                }
            }
        }
    }
    return hits;
}

std::optional<HitLocation> LocateHit(ListManager& db, const SearchHit& hit)
{
    std::lock_guard satellites(db.SatelliteLock());
    std::lock_guard tps(db.TpLock());
    std::lock_guard tv(db.ProgramLock(1));
    std::lock_guard radio(db.ProgramLock(2));
    HitLocation at;
    switch (hit.kind) {
    case SearchHit::Kind::Satellite:
        if (const SatelliteRecord* s = db.FindSatellite(hit.satelliteIndex);
            s != nullptr && s->Name() == hit.satellite) {
            at.node = s->tvNode;
        }
        break;
    case SearchHit::Kind::Transponder:
        if (const TpRecord* t = db.FindTp(hit.tpIndex)) {
            at.node = t->tvNode;
        }
        break;
    case SearchHit::Kind::TvProgram:
    case SearchHit::Kind::RadioProgram: {
        at.radioTree = hit.kind == SearchHit::Kind::RadioProgram;
        if (const ProgramRecord* p = db.FindProgram(at.radioTree ? 2 : 1, hit.programIndex);
            p != nullptr && p->name == hit.program) {
            at.node = p->node;
        }
        break;
    }
    }
    if (at.node == kNoTreeNode) {
        return std::nullopt;
    }
    return at;
}

} // namespace vireo
