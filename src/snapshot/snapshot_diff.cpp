#include "snapshot/snapshot_diff.h"

#include "lang/display_text.h"
#include "snapshot/snapshot_match.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace vireo {

namespace {

using Fields = std::vector<FieldDiff>;
using Change = DiffEntry::Change;

constexpr const char* kModulations[] = {"QPSK_S2", "8PSK_S2", "QPSK_S", "8PSK_S"};

std::string num(long value)
{
    return std::to_string(value);
}

std::string modulationText(uint8_t modulation)
{
    return modulation < 4 ? kModulations[modulation] : num(modulation);
}

std::string tpSubject(const TpRecord& t)
{
    return num(t.Frequency()) + (t.Horizontal() ? " H" : " V");
}

// Each record kind lists its fields as (name, value) pairs; a diff is the
// pairs whose values differ.
using Values = std::vector<std::pair<const char*, std::string>>;

Values satelliteValues(const SatelliteRecord& s)
{
    return {{"name", NameText(s.Name())},
            {"lo_high", num(s.HighLo())},
            {"lo_low", num(s.LowLo())},
            {"lnb_power", s.LnbPower() == 0   ? "Auto"
                          : s.LnbPower() == 1 ? "Close"
                                              : num(s.LnbPower())},
            {"tone_22k", s.Tone22k() == 0   ? "Close"
                         : s.Tone22k() == 1 ? "Open"
                                            : num(s.Tone22k())},
            {"diseqc", s.DiseqcPort() == 0
                           ? "Close"
                           : "Port " + std::string(1, char('A' - 1 + s.DiseqcPort()))},
            {"flags", num(s.wire[3])}};
}

Values tpValues(const TpRecord& t)
{
    return {{"frequency", num(t.Frequency())},
            {"polarisation", t.Horizontal() ? "H" : "V"},
            {"symbol_rate", num(t.SymbolRate())},
            {"modulation", modulationText(t.Modulation())},
            {"pilot", t.Pilot() == 0   ? "Close"
                      : t.Pilot() == 1 ? "Open"
                                       : num(t.Pilot())},
            {"fec", t.Fec() == kNoIndex ? "none" : num(t.Fec())}};
}

std::string audioText(uint16_t audio)
{
    if (!PidPresent(audio)) {
        return "none";
    }
    const int type = audio & 0x07;
    return num(audio >> 3) + (type == 1 ? " audio" : type == 4 ? " AC3" : " type " + num(type));
}

Values programValues(const ProgramRecord& p)
{
    return {{"name", NameText(p.name)},
            {"pcr_pid", num(p.PcrPid())},
            {"video_pid", num(p.VideoPid())},
            {"teletext_pid", num(p.TeletextPid())},
            {"scrambled", p.Scrambled() ? "yes" : "no"},
            {"module", num(p.ModuleState())},
            {"audio_1", audioText(p.Audio(0))},
            {"audio_2", audioText(p.Audio(1))},
            {"audio_3", audioText(p.Audio(2))},
            {"audio_choice", num(p.AudioChoice())}};
}

std::string addressText(const uint8_t* bytes, int count, const char* separator, bool hex)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        char part[8];
        std::snprintf(part, sizeof part, hex ? "%02X" : "%u", bytes[i]);
        out += (i > 0 ? separator : "") + std::string(part);
    }
    return out;
}

// The system settings as (name, value), the applied ones first.
Values systemValues(const std::optional<SystemRecord>& system,
                    const std::optional<VolumeState>& volume,
                    const std::optional<VersionRecord>& version, bool appliedOnly)
{
    static const char* const outputs[] = {"1080I@50Hz", "1080I@60Hz", "720P@50Hz", "720P@60Hz"};
    static const char* const tsOutputs[] = {"De-Scrambled", "Original", "Off", "3"};
    Values v;
    if (system) {
        const SystemRecord& s = *system;
        v = {{"polling_interval", num(s.PollingInterval())},
             {"screen_ratio", s.ScreenRatio() == 1 ? "4:3" : "16:9"},
             {"menu_language", s.MenuLanguage() == 0   ? "Chinese"
                               : s.MenuLanguage() == 1 ? "English"
                                                       : num(s.MenuLanguage())},
             {"output_type", s.OutputType() < 4 ? outputs[s.OutputType()] : num(s.OutputType())},
             {"ts_output", tsOutputs[s.TsOutput()]},
             {"ts_length", num(s.TsLength())}};
        if (!appliedOnly) {
            v.push_back({"signal_source", s.SignalSource() == 0 ? "LNB IN" : "ASI IN"});
            v.push_back({"ip", addressText(&s.wire[4], 4, ".", false)});
            v.push_back({"mask", addressText(&s.wire[8], 4, ".", false)});
            v.push_back({"mac", addressText(&s.wire[12], 6, ":", true)});
        }
    }
    if (!appliedOnly) {
        if (volume) {
            v.push_back({"volume", num(volume->volume)});
            v.push_back({"muted", volume->mute != 0 ? "yes" : "no"});
        }
        if (version) {
            v.push_back({"version", version->Text()});
        }
    }
    return v;
}

Fields compare(const Values& a, const Values& b)
{
    Fields out;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i].second != b[i].second) {
            out.push_back({a[i].first, a[i].second, b[i].second});
        }
    }
    return out;
}

Fields oneSide(const Values& values, bool inA)
{
    Fields out;
    for (const auto& [field, value] : values) {
        out.push_back({field, inA ? value : "", inA ? "" : value});
    }
    return out;
}

class DiffBuilder
{
public:
    DiffBuilder(const Snapshot& a, const Snapshot& b, const DiffOptions& options)
        : m_a(a), m_b(b), m_options(options), m_match(MatchSnapshots(a, b))
    {}

    SnapshotDiff build()
    {
        if (wants(diff_section::Satellites)) {
            satellites();
        }
        if (wants(diff_section::Transponders)) {
            transponders();
        }
        if (wants(diff_section::Programs)) {
            programs("tv", m_a.tv, m_b.tv, m_match.tv, m_match.tvBack);
            programs("radio", m_a.radio, m_b.radio, m_match.radio, m_match.radioBack);
        }
        if (wants(diff_section::System)) {
            system();
        }
        return std::move(m_diff);
    }

private:
    bool wants(unsigned section) const { return (m_options.sections & section) != 0; }

    void add(const char* section, Change change, std::string subject, std::string parent,
             Fields fields)
    {
        m_diff.entries.push_back(
            {section, change, std::move(subject), std::move(parent), std::move(fields)});
    }

    static std::string satelliteName(const Snapshot& s, uint8_t index)
    {
        const int at = PositionOfSatellite(s, index);
        return at < 0 ? "satellite " + num(index) : NameText(s.satellites[at].Name());
    }

    std::string tpPlace(const Snapshot& s, uint8_t tpIndex) const
    {
        const int at = PositionOfTp(s, tpIndex);
        if (at < 0) {
            return "TP " + num(tpIndex);
        }
        const TpRecord& t = s.transponders[at];
        return tpSubject(t) + " on " + satelliteName(s, t.SatelliteIndex());
    }

    void satellites()
    {
        for (size_t i = 0; i < m_a.satellites.size(); ++i) {
            const SatelliteRecord& s = m_a.satellites[i];
            const int j = m_match.satellites[i];
            if (j < 0) {
                add("satellites", Change::OnlyInA, NameText(s.Name()), "",
                    oneSide(satelliteValues(s), true));
                continue;
            }
            Fields fields = compare(satelliteValues(s), satelliteValues(m_b.satellites[j]));
            // The flags byte is listed only when its known parts all agree.
            if (fields.size() > 1 && fields.back().field == std::string("flags")) {
                fields.pop_back();
            }
            if (!fields.empty()) {
                add("satellites", Change::Changed, NameText(s.Name()), "", std::move(fields));
            }
        }
        for (size_t j = 0; j < m_b.satellites.size(); ++j) {
            if (m_match.satellitesBack[j] < 0) {
                const SatelliteRecord& s = m_b.satellites[j];
                add("satellites", Change::OnlyInB, NameText(s.Name()), "",
                    oneSide(satelliteValues(s), false));
            }
        }
    }

    void transponders()
    {
        for (size_t i = 0; i < m_a.transponders.size(); ++i) {
            const TpRecord& t = m_a.transponders[i];
            const int j = m_match.transponders[i];
            const std::string parent = satelliteName(m_a, t.SatelliteIndex());
            if (j < 0) {
                add("transponders", Change::OnlyInA, tpSubject(t), parent,
                    oneSide(tpValues(t), true));
                continue;
            }
            Fields fields = compare(tpValues(t), tpValues(m_b.transponders[j]));
            if (!fields.empty()) {
                add("transponders", Change::Changed, tpSubject(t), parent, std::move(fields));
            }
        }
        for (size_t j = 0; j < m_b.transponders.size(); ++j) {
            if (m_match.transpondersBack[j] < 0) {
                const TpRecord& t = m_b.transponders[j];
                add("transponders", Change::OnlyInB, tpSubject(t),
                    satelliteName(m_b, t.SatelliteIndex()), oneSide(tpValues(t), false));
            }
        }
    }

    void programs(const char* section, const std::vector<ProgramRecord>& a,
                  const std::vector<ProgramRecord>& b, const std::vector<int>& ab,
                  const std::vector<int>& ba)
    {
        for (size_t i = 0; i < a.size(); ++i) {
            const ProgramRecord& p = a[i];
            if (ab[i] < 0) {
                add(section, Change::OnlyInA, NameText(p.name), tpPlace(m_a, p.TpIndex()),
                    oneSide(programValues(p), true));
                continue;
            }
            Fields fields = compare(programValues(p), programValues(b[ab[i]]));
            if (!fields.empty()) {
                add(section, Change::Changed, NameText(p.name), tpPlace(m_a, p.TpIndex()),
                    std::move(fields));
            }
        }
        for (size_t j = 0; j < b.size(); ++j) {
            if (ba[j] < 0) {
                add(section, Change::OnlyInB, NameText(b[j].name), tpPlace(m_b, b[j].TpIndex()),
                    oneSide(programValues(b[j]), false));
            }
        }
    }

    void system()
    {
        const bool appliedOnly = m_options.appliedSystemOnly;
        if (m_a.system.has_value() != m_b.system.has_value()) {
            add("system", m_a.system ? Change::OnlyInA : Change::OnlyInB, "system record", "", {});
        }
        const Values a = systemValues(m_b.system ? m_a.system : std::nullopt,
                                      m_b.volume ? m_a.volume : std::nullopt,
                                      m_b.version ? m_a.version : std::nullopt, appliedOnly);
        const Values b = systemValues(m_a.system ? m_b.system : std::nullopt,
                                      m_a.volume ? m_b.volume : std::nullopt,
                                      m_a.version ? m_b.version : std::nullopt, appliedOnly);
        Fields fields = compare(a, b);
        if (!fields.empty()) {
            add("system", Change::Changed, "settings", "", std::move(fields));
        }
    }

    const Snapshot& m_a;
    const Snapshot& m_b;
    const DiffOptions m_options;
    const SnapshotMatch m_match;
    SnapshotDiff m_diff;
};

const char* changeKey(Change change)
{
    switch (change) {
    case Change::OnlyInA:
        return "only_in_a";
    case Change::OnlyInB:
        return "only_in_b";
    default:
        return "changed";
    }
}

} // namespace

std::string NameText(const std::string& gbk)
{
    const JsonName name = NameForJson(gbk);
    std::string text = "\"" + name.text + "\"";
    if (!name.hex.empty()) {
        text += " [" + name.hex + "]";
    }
    return text;
}

std::optional<unsigned> ParseDiffSections(std::string_view list)
{
    unsigned sections = 0;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        if (name == "satellites") {
            sections |= diff_section::Satellites;
        } else if (name == "tps" || name == "transponders") {
            sections |= diff_section::Transponders;
        } else if (name == "programs") {
            sections |= diff_section::Programs;
        } else if (name == "system") {
            sections |= diff_section::System;
        } else {
            return std::nullopt;
        }
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return sections == 0 ? std::nullopt : std::optional<unsigned>(sections);
}

SnapshotDiff DiffSnapshots(const Snapshot& a, const Snapshot& b, const DiffOptions& options)
{
    return DiffBuilder(a, b, options).build();
}

std::string DiffText(const SnapshotDiff& diff, const std::string& nameA, const std::string& nameB)
{
    if (diff.Empty()) {
        return "No differences.\n";
    }
    std::string out;
    std::string section;
    for (const DiffEntry& e : diff.entries) {
        if (e.section != section) {
            section = e.section;
            out += section + ":\n";
        }
        std::string line = "  ";
        switch (e.change) {
        case Change::OnlyInA:
            line += "- only in " + nameA + ": ";
            break;
        case Change::OnlyInB:
            line += "+ only in " + nameB + ": ";
            break;
        case Change::Changed:
            line += "~ ";
            break;
        }
        line += e.subject;
        if (!e.parent.empty()) {
            line += " (" + e.parent + ")";
        }
        if (e.change == Change::Changed) {
            std::string sep = ": ";
            for (const FieldDiff& f : e.fields) {
                line += sep + f.field + " " + (f.a.empty() ? "-" : f.a) + " -> " +
                        (f.b.empty() ? "-" : f.b);
                sep = ", ";
            }
        }
        out += line + "\n";
    }
    out += std::to_string(diff.entries.size()) +
           (diff.entries.size() == 1 ? " difference.\n" : " differences.\n");
    return out;
}

std::string DiffJson(const SnapshotDiff& diff, const std::string& nameA, const std::string& nameB)
{
    using Json = nlohmann::ordered_json;
    Json entries = Json::array();
    for (const DiffEntry& e : diff.entries) {
        Json fields = Json::array();
        for (const FieldDiff& f : e.fields) {
            fields.push_back(Json{{"field", f.field}, {"a", f.a}, {"b", f.b}});
        }
        entries.push_back(Json{{"section", e.section},
                               {"change", changeKey(e.change)},
                               {"subject", e.subject},
                               {"parent", e.parent},
                               {"fields", fields}});
    }
    const Json root{{"same", diff.Empty()}, {"a", nameA}, {"b", nameB}, {"differences", entries}};
    return root.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace vireo
