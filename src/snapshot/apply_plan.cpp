#include "snapshot/apply_plan.h"

#include "link/message_code.h"
#include "snapshot/snapshot_diff.h"
#include "snapshot/snapshot_match.h"

#include <algorithm>

namespace vireo {

namespace {

std::string tpText(const TpRecord& t)
{
    return std::to_string(t.Frequency()) + (t.Horizontal() ? " H" : " V");
}

std::string indexText(uint8_t index)
{
    return " [" + std::to_string(index) + "]";
}

// Programs of both lists carried by the TPs `carries` picks.
template <class Pick> size_t programsOn(const Snapshot& device, Pick carries)
{
    size_t count = 0;
    for (const auto* list : {&device.tv, &device.radio}) {
        for (const ProgramRecord& p : *list) {
            count += carries(p.TpIndex()) ? 1 : 0;
        }
    }
    return count;
}

// The satellite's settings and name as a SetSatellite or AddSatellite
// carries them: bytes 3 to 39, the name zero-padded.
void writeSatelliteSettings(std::vector<uint8_t>& payload, const SatelliteRecord& wanted)
{
    std::copy(wanted.wire.begin() + 3, wanted.wire.begin() + SatelliteRecord::kHeaderSize,
              payload.begin() + 3);
    std::fill(payload.begin() + SatelliteRecord::kHeaderSize, payload.end(), 0);
    const std::string name = wanted.Name();
    std::copy(name.begin(), name.end(), payload.begin() + SatelliteRecord::kHeaderSize);
}

bool sameSatellite(const SatelliteRecord& a, const SatelliteRecord& b)
{
    return SameLnb(a, b) && a.Name() == b.Name();
}

bool sameTuning(const TpRecord& a, const TpRecord& b)
{
    return a.SymbolRate() == b.SymbolRate() && a.Modulation() == b.Modulation() &&
           a.Pilot() == b.Pilot() && a.Horizontal() == b.Horizontal() && a.Fec() == b.Fec();
}

class Planner
{
public:
    Planner(const Snapshot& wanted, const Snapshot& device, unsigned sections)
        : m_wanted(wanted), m_device(device), m_sections(sections),
          m_match(MatchSnapshots(device, wanted))
    {}

    ApplyPlan build()
    {
        const bool sats = wants(apply_section::Satellites);
        const bool tps = wants(apply_section::Transponders);
        // Changes in place first: an add may renumber the lists they name.
        if (sats) {
            changeSatellites();
        }
        if (tps) {
            modifyTps();
        }
        if (wants(apply_section::System)) {
            system();
        }
        if (sats) {
            addSatellites();
        }
        if (tps) {
            addTps(sats);
        }
        if (tps) {
            deleteTps(sats);
        }
        if (sats) {
            deleteSatellites();
        }
        std::stable_sort(m_plan.steps.begin(), m_plan.steps.end(),
                         [](const PlanStep& a, const PlanStep& b) { return a.stage < b.stage; });
        return std::move(m_plan);
    }

private:
    bool wants(unsigned section) const { return (m_sections & section) != 0; }

    PlanStep& step(PlanStep::Stage stage, uint8_t code, std::vector<uint8_t> payload,
                   std::string subject, bool awaitsSatellite = false)
    {
        std::string text = PlanVerb(code) + (subject.empty() ? "" : " " + subject);
        m_plan.steps.push_back({stage, code, std::move(payload), std::move(text),
                                std::move(subject), awaitsSatellite});
        return m_plan.steps.back();
    }

    std::string deviceSatelliteName(uint8_t index) const
    {
        const int at = PositionOfSatellite(m_device, index);
        return at < 0 ? "satellite " + std::to_string(index)
                      : NameText(m_device.satellites[at].Name());
    }

    // Device positions in descending index order.
    template <class Record> static std::vector<size_t> highestFirst(const std::vector<Record>& list)
    {
        std::vector<size_t> order(list.size());
        for (size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(),
                  [&list](size_t a, size_t b) { return list[a].Index() > list[b].Index(); });
        return order;
    }

    // TPs the snapshot lacks. Those under satellites that go anyway go with
    // their satellite.
    void deleteTps(bool satellitesToo)
    {
        for (size_t i : highestFirst(m_device.transponders)) {
            if (m_match.transponders[i] >= 0) {
                continue;
            }
            const TpRecord& t = m_device.transponders[i];
            const int sat = PositionOfSatellite(m_device, t.SatelliteIndex());
            if (satellitesToo && sat >= 0 && m_match.satellites[sat] < 0) {
                continue;
            }
            PlanStep& s = step(PlanStep::DeleteTps, msg::DeleteTp, {t.wire.begin(), t.wire.end()},
                               tpText(t) + ", " + deviceSatelliteName(t.SatelliteIndex()) +
                                   indexText(t.Index()));
            s.programsLost = programsOn(m_device, [&t](uint8_t tp) { return tp == t.Index(); });
        }
    }

    void deleteSatellites()
    {
        for (size_t i : highestFirst(m_device.satellites)) {
            if (m_match.satellites[i] >= 0) {
                continue;
            }
            const SatelliteRecord& s = m_device.satellites[i];
            std::vector<bool> going(256, false);
            size_t tps = 0;
            for (const TpRecord& t : m_device.transponders) {
                if (t.SatelliteIndex() == s.Index()) {
                    going[t.Index()] = true;
                    ++tps;
                }
            }
            PlanStep& d = step(PlanStep::DeleteSatellites, msg::DeleteSatellite,
                               {s.wire.begin(), s.wire.begin() + SatelliteRecord::kHeaderSize},
                               NameText(s.Name()) + indexText(s.Index()));
            d.tpsLost = tps;
            d.programsLost = programsOn(m_device, [&going](uint8_t tp) { return going[tp]; });
        }
    }

    void changeSatellites()
    {
        for (size_t i = 0; i < m_device.satellites.size(); ++i) {
            const int j = m_match.satellites[i];
            const SatelliteRecord& s = m_device.satellites[i];
            if (j < 0 || sameSatellite(s, m_wanted.satellites[j])) {
                continue;
            }
            const SatelliteRecord& w = m_wanted.satellites[j];
            std::vector<uint8_t> payload(s.wire.begin(), s.wire.end());
            writeSatelliteSettings(payload, w);
            std::string text = NameText(s.Name()) + indexText(s.Index());
            if (s.Name() != w.Name()) {
                text += ", renamed " + NameText(w.Name());
            }
            step(PlanStep::Change, msg::SetSatellite, std::move(payload), text);
        }
    }

    void addSatellites()
    {
        for (size_t j = 0; j < m_wanted.satellites.size(); ++j) {
            if (m_match.satellitesBack[j] >= 0) {
                continue;
            }
            std::vector<uint8_t> payload(SatelliteRecord::kWireSize, 0);
            writeSatelliteSettings(payload, m_wanted.satellites[j]);
            step(PlanStep::Change, msg::AddSatellite, std::move(payload),
                 NameText(m_wanted.satellites[j].Name()));
        }
    }

    void modifyTps()
    {
        for (size_t i = 0; i < m_device.transponders.size(); ++i) {
            const int j = m_match.transponders[i];
            const TpRecord& t = m_device.transponders[i];
            if (j < 0 || sameTuning(t, m_wanted.transponders[j])) {
                continue;
            }
            std::vector<uint8_t> payload(t.wire.begin(), t.wire.end());
            const TpRecord& w = m_wanted.transponders[j];
            std::copy(w.wire.begin() + 4, w.wire.end(), payload.begin() + 4);
            step(PlanStep::Change, msg::ModifyTp, std::move(payload),
                 tpText(t) + ", " + deviceSatelliteName(t.SatelliteIndex()) + indexText(t.Index()));
        }
    }

    void addTps(bool satellitesToo)
    {
        for (size_t j = 0; j < m_wanted.transponders.size(); ++j) {
            if (m_match.transpondersBack[j] >= 0) {
                continue;
            }
            const TpRecord& w = m_wanted.transponders[j];
            const int wantedSat = PositionOfSatellite(m_wanted, w.SatelliteIndex());
            if (wantedSat < 0) {
                m_plan.problems.push_back("TP " + tpText(w) + " names satellite " +
                                          std::to_string(w.SatelliteIndex()) +
                                          ", which the snapshot does not hold");
                continue;
            }
            const std::string satName = NameText(m_wanted.satellites[wantedSat].Name());
            const int deviceSat = m_match.satellitesBack[wantedSat];
            std::vector<uint8_t> payload(TpRecord::kWireSize, 0);
            std::copy(w.wire.begin() + 4, w.wire.end(), payload.begin() + 4);
            if (deviceSat >= 0) {
                payload[1] = m_device.satellites[deviceSat].Index();
                step(PlanStep::AddTps, msg::AddTp, std::move(payload), tpText(w) + ", " + satName);
            } else if (satellitesToo) {
                payload[1] = kNoIndex;
                step(PlanStep::AddTps, msg::AddTp, std::move(payload), tpText(w) + ", " + satName,
                     true);
            } else {
                m_plan.problems.push_back("TP " + tpText(w) + " cannot be added: satellite " +
                                          satName + " is not on the device");
            }
        }
    }

    void system()
    {
        if (!m_device.system || !m_wanted.system) {
            if (m_wanted.system && !m_device.system) {
                m_plan.problems.push_back("the device's system settings are not known");
            }
            return;
        }
        const SystemRecord applied = AppliedSystem(*m_device.system, *m_wanted.system);
        if (applied.wire == AppliedSystem(*m_device.system, *m_device.system).wire) {
            return; // the applied settings agree, whatever else the record holds
        }
        Snapshot before, after;
        before.system = m_device.system;
        after.system = applied;
        std::string text;
        std::string sep;
        DiffOptions options;
        options.sections = diff_section::System;
        options.appliedSystemOnly = true;
        std::vector<FieldDiff> fields;
        for (const DiffEntry& e : DiffSnapshots(before, after, options).entries) {
            for (const FieldDiff& f : e.fields) {
                text += sep + f.field + " " + f.a + " -> " + f.b;
                sep = ", ";
                fields.push_back(f);
            }
        }
        step(PlanStep::Change, msg::SetSystemInfo, {applied.wire.begin(), applied.wire.end()}, text)
            .fields = std::move(fields);
    }

    const Snapshot& m_wanted;
    const Snapshot& m_device;
    const unsigned m_sections;
    const SnapshotMatch m_match; // device -> wanted
    ApplyPlan m_plan;
};

} // namespace

std::string PlanVerb(uint8_t code)
{
    switch (code) {
    case msg::DeleteTp:
        return "Delete TP";
    case msg::DeleteSatellite:
        return "Delete satellite";
    case msg::SetSatellite:
        return "Set satellite";
    case msg::ModifyTp:
        return "Modify TP";
    case msg::AddSatellite:
        return "Add satellite";
    case msg::AddTp:
        return "Add TP";
    case msg::SetSystemInfo:
        return "Set system settings:";
    default:
        return "Request " + std::to_string(code);
    }
}

std::optional<unsigned> ParseApplySections(std::string_view list)
{
    unsigned sections = 0;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        if (name == "satellites") {
            sections |= apply_section::Satellites;
        } else if (name == "tps" || name == "transponders") {
            sections |= apply_section::Transponders;
        } else if (name == "system") {
            sections |= apply_section::System;
        } else {
            return std::nullopt;
        }
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return sections == 0 ? std::nullopt : std::optional<unsigned>(sections);
}

unsigned DiffSectionsOf(unsigned sections)
{
    unsigned diff = 0;
    diff |= (sections & apply_section::Satellites) != 0 ? diff_section::Satellites : 0;
    diff |= (sections & apply_section::Transponders) != 0 ? diff_section::Transponders : 0;
    diff |= (sections & apply_section::System) != 0 ? diff_section::System : 0;
    return diff;
}

bool PlanStep::ChangesNumbering() const
{
    return code == msg::DeleteTp || code == msg::DeleteSatellite || code == msg::AddSatellite ||
           code == msg::AddTp;
}

std::vector<PlanStep> ApplyPlan::FirstStage(bool renumbering) const
{
    std::vector<PlanStep> first;
    for (const PlanStep& s : steps) {
        if (!first.empty() && (s.stage != first.front().stage || first.back().Deletes() ||
                               (renumbering && first.back().ChangesNumbering()))) {
            break;
        }
        first.push_back(s);
    }
    return first;
}

size_t ApplyPlan::ProgramsLost() const
{
    size_t lost = 0;
    for (const PlanStep& s : steps) {
        lost += s.programsLost;
    }
    return lost;
}

PlanSummary ApplyPlan::Summary() const
{
    PlanSummary sum;
    for (const PlanStep& s : steps) {
        switch (s.code) {
        case msg::AddSatellite:
            ++sum.satellitesAdded;
            break;
        case msg::SetSatellite:
            ++sum.satellitesChanged;
            break;
        case msg::DeleteSatellite:
            ++sum.satellitesDeleted;
            sum.tpsDeleted += s.tpsLost;
            break;
        case msg::AddTp:
            ++sum.tpsAdded;
            break;
        case msg::ModifyTp:
            ++sum.tpsChanged;
            break;
        case msg::DeleteTp:
            ++sum.tpsDeleted;
            break;
        case msg::SetSystemInfo:
            sum.settingsChanged = true;
            break;
        default:
            break;
        }
        sum.programsLost += s.programsLost;
    }
    return sum;
}

std::string SummaryText(const PlanSummary& s)
{
    const auto counts = [](size_t added, size_t changed, size_t deleted) {
        return std::to_string(added) + " added, " + std::to_string(changed) + " changed, " +
               std::to_string(deleted) + " deleted";
    };
    return "satellites " + counts(s.satellitesAdded, s.satellitesChanged, s.satellitesDeleted) +
           "; TPs " + counts(s.tpsAdded, s.tpsChanged, s.tpsDeleted) + "; system settings " +
           (s.settingsChanged ? "changed" : "unchanged") + "; " + std::to_string(s.programsLost) +
           " programs lost with deleted TPs";
}

SystemRecord AppliedSystem(const SystemRecord& device, const SystemRecord& wanted)
{
    // Byte 0: screen ratio (bit 1), menu language (bits 2-3), output type
    // (bits 5-7); not the reset (bit 0) or the signal source (bit 4). Byte 1:
    // TS output and length (bits 0-2), then from bit 3 of byte 1 through
    // byte 3 the polling interval.
    constexpr uint8_t kByte0 = 0xEE;
    SystemRecord out = device;
    out.wire[0] =
        static_cast<uint8_t>((device.wire[0] & ~kByte0 & ~0x01) | (wanted.wire[0] & kByte0));
    out.wire[1] = wanted.wire[1];
    out.wire[2] = wanted.wire[2];
    out.wire[3] = wanted.wire[3];
    out.wire[18] = 0; // never ask the device to take new network settings
    return out;
}

ApplyPlan PlanApply(const Snapshot& wanted, const Snapshot& device, unsigned sections)
{
    return Planner(wanted, device, sections).build();
}

std::string PlanText(const ApplyPlan& plan)
{
    std::string out;
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        const PlanStep& s = plan.steps[i];
        out += std::to_string(i + 1) + ". " + s.text;
        if (s.tpsLost > 0) {
            out += ", with its " + std::to_string(s.tpsLost) + (s.tpsLost == 1 ? " TP" : " TPs");
        }
        if (s.programsLost > 0) {
            out += " (" + std::to_string(s.programsLost) +
                   (s.programsLost == 1 ? " program" : " programs") + " lost)";
        }
        out += "\n";
    }
    for (const std::string& problem : plan.problems) {
        out += "cannot: " + problem + "\n";
    }
    return out.empty() ? "Nothing to do.\n" : out;
}

} // namespace vireo
