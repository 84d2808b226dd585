#include "history/ui/history_link.h"

#include <fstream>
#include <mutex>

namespace vireo::ui {

namespace {

class QuerySource : public SignalHistorySource
{
public:
    QuerySource(const HistoryService& service, std::string address)
        : m_service(service), m_address(std::move(address))
    {}

    HistorySnapshot Query(int64_t fromMs, int64_t toMs, int maxPoints) override
    {
        std::lock_guard lock(m_mutex);
        HistoryQuery* query = open();
        if (query == nullptr) {
            return {};
        }
        const TimeRange range{fromMs, toMs};
        std::vector<Period> disconnected = query->DisconnectedPeriods(m_address, range);
        Availability availability = query->AvailabilityOf(m_address, range);
        // A link lost and not back is stored as lasting until the device's
        // last record; the window that watches the device knows it goes on
        // until the end of the range (now): counted and shaded so.
        for (const Period& lost : query->Periods(m_address, range, PeriodKind::LinkLost)) {
            if (lost.open && lost.endMs < toMs) {
                availability.linkLostMs += toMs - lost.endMs;
                disconnected.push_back({PeriodKind::LinkLost, lost.endMs, toMs, true});
            }
        }
        return SnapshotOf(query->Series(m_address, range, maxPoints),
                          query->Periods(m_address, range, PeriodKind::Unlocked), disconnected,
                          query->Outages(m_address, range), availability);
    }

    bool ExportCsv(const std::string& path, int64_t fromMs, int64_t toMs,
                   std::string* error) override
    {
        std::lock_guard lock(m_mutex);
        HistoryQuery* query = open();
        if (query == nullptr) {
            *error = m_openError;
            return false;
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            *error = "the file cannot be written";
            return false;
        }
        if (!query->ExportCsv(m_address, TimeRange{fromMs, toMs}, out)) {
            *error = "the history could not be read or the file written";
            return false;
        }
        out.close();
        if (!out) {
            *error = "the file could not be written completely";
            return false;
        }
        return true;
    }

private:
    // A connection that failed is opened again on the next call: the file
    // may have been created meanwhile.
    HistoryQuery* open()
    {
        if (m_query == nullptr) {
            m_query = m_service.OpenQuery();
            if (m_query == nullptr) {
                m_openError = "the history file cannot be read";
            }
        }
        return m_query.get();
    }

    const HistoryService& m_service;
    const std::string m_address;
    std::mutex m_mutex;
    std::unique_ptr<HistoryQuery> m_query;
    std::string m_openError;
};

bool overlaps(const Outage& outage, const std::vector<Period>& periods)
{
    for (const Period& p : periods) {
        if (p.beginMs < outage.endMs && outage.beginMs < p.endMs) {
            return true;
        }
    }
    return false;
}

} // namespace

DeviceKey DeviceKeyOfCaption(const std::string& caption)
{
    const size_t colon = caption.find(':');
    if (colon == std::string::npos) {
        return {caption, {}};
    }
    return {caption.substr(0, colon), caption.substr(colon + 1)};
}

std::shared_ptr<SignalHistorySource> MakeHistorySource(const HistoryService& service,
                                                       std::string address)
{
    return std::make_shared<QuerySource>(service, std::move(address));
}

HistorySnapshot SnapshotOf(const std::vector<SeriesPoint>& series,
                           const std::vector<Period>& unlocked,
                           const std::vector<Period>& disconnected,
                           const std::vector<Outage>& outages, const Availability& availability)
{
    HistorySnapshot snapshot;
    snapshot.samples.reserve(series.size());
    for (const SeriesPoint& point : series) {
        // A bucket is drawn at its middle, so long ranges do not lean left.
        snapshot.samples.push_back(
            {point.timeMs + point.spanMs / 2, point.intensityMean, point.qualityMean,
             point.lockedShare >= 0.5, static_cast<double>(point.intensityMin),
             static_cast<double>(point.intensityMax), static_cast<double>(point.qualityMin),
             static_cast<double>(point.qualityMax)});
    }
    for (const Period& p : unlocked) {
        snapshot.shaded.push_back({p.beginMs, p.endMs, OutagePeriod::Kind::Unlocked, p.open});
    }
    for (const Period& p : disconnected) {
        snapshot.shaded.push_back({p.beginMs, p.endMs, OutagePeriod::Kind::Disconnected, p.open});
    }
    for (const Outage& o : outages) {
        const auto kind = overlaps(o, disconnected) ? OutagePeriod::Kind::Disconnected
                                                    : OutagePeriod::Kind::Unlocked;
        snapshot.outages.push_back({o.beginMs, o.endMs, kind, o.open});
    }
    snapshot.availability = availability.WatchedMs() > 0 ? availability.Share() : -1.0;
    return snapshot;
}

} // namespace vireo::ui
