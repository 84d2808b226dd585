#include "history/history_query.h"

#include "history/alarm_rows.h"
#include "history/history_database.h"
#include "history/sample_block.h"
#include "history/sqlite_statement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace vireo {

namespace {

// Folds reports into a bucket of a series.
struct Bucket
{
    int count = 0;
    int lockedCount = 0;
    int intensityMin = 0, intensityMax = 0, qualityMin = 0, qualityMax = 0;
    int64_t intensitySum = 0, qualitySum = 0;

    void Add(const SignalSample& s)
    {
        if (count == 0) {
            intensityMin = intensityMax = s.intensity;
            qualityMin = qualityMax = s.quality;
        } else {
            intensityMin = std::min(intensityMin, s.intensity);
            intensityMax = std::max(intensityMax, s.intensity);
            qualityMin = std::min(qualityMin, s.quality);
            qualityMax = std::max(qualityMax, s.quality);
        }
        ++count;
        lockedCount += s.locked ? 1 : 0;
        intensitySum += s.intensity;
        qualitySum += s.quality;
    }
};

std::vector<Period> mergeSorted(std::vector<Period> periods)
{
    std::sort(periods.begin(), periods.end(),
              [](const Period& a, const Period& b) { return a.beginMs < b.beginMs; });
    std::vector<Period> merged;
    for (const Period& p : periods) {
        if (!merged.empty() && p.beginMs <= merged.back().endMs) {
            merged.back().endMs = std::max(merged.back().endMs, p.endMs);
            merged.back().open = merged.back().open || p.open;
        } else {
            merged.push_back(p);
        }
    }
    return merged;
}

int64_t totalLength(const std::vector<Period>& periods)
{
    int64_t total = 0;
    for (const Period& p : periods) {
        total += p.endMs - p.beginMs;
    }
    return total;
}

std::string isoTime(int64_t ms)
{
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ",
                  static_cast<int>(((ms % 1000) + 1000) % 1000));
    return text;
}

} // namespace

std::unique_ptr<HistoryQuery> HistoryQuery::Open(const std::filesystem::path& file,
                                                 std::string* error)
{
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        if (error != nullptr) {
            *error = "no history at " + file.string();
        }
        return nullptr;
    }
    auto opened = HistoryDatabase::Open(file, false);
    if (!opened.database) {
        if (error != nullptr) {
            *error = opened.error;
        }
        return nullptr;
    }
    return std::unique_ptr<HistoryQuery>(new HistoryQuery(std::move(opened.database)));
}

HistoryQuery::HistoryQuery(std::unique_ptr<HistoryDatabase> database)
    : m_database(std::move(database))
{}

HistoryQuery::~HistoryQuery() = default;

std::vector<DeviceKey> HistoryQuery::Devices()
{
    std::vector<DeviceKey> list;
    SqliteStatement read(m_database->Handle(), "SELECT address, name FROM devices ORDER BY id");
    while (read.Step() == SQLITE_ROW) {
        list.push_back({read.Text(0), read.Text(1)});
    }
    return list;
}

std::vector<SignalSample> HistoryQuery::Samples(const std::string& address, TimeRange range,
                                                size_t limit)
{
    std::vector<SignalSample> list;
    const int64_t device = m_database->FindDevice(address);
    if (device == 0 || range.Length() == 0) {
        return list;
    }
    SqliteStatement read(m_database->Handle(),
                         "SELECT minute, data FROM sample_blocks WHERE device = ?1 AND "
                         "minute BETWEEN ?2 AND ?3 ORDER BY minute");
    read.Bind(1, device).Bind(2, SampleBlock::MinuteOf(range.beginMs));
    read.Bind(3, SampleBlock::MinuteOf(range.endMs - 1));
    while (read.Step() == SQLITE_ROW && list.size() < limit) {
        const size_t first = list.size();
        SampleBlock::ForEachIn(read.Int(0), read.Blob(1), [&](const SignalSample& s) {
            if (s.timeMs >= range.beginMs && s.timeMs < range.endMs) {
                list.push_back(s);
            }
        });
        // Reports of a minute are stored as they came; late ones go in order.
        std::stable_sort(
            list.begin() + static_cast<ptrdiff_t>(first), list.end(),
            [](const SignalSample& a, const SignalSample& b) { return a.timeMs < b.timeMs; });
    }
    if (list.size() > limit) {
        list.resize(limit);
    }
    return list;
}

std::vector<SeriesPoint> HistoryQuery::Series(const std::string& address, TimeRange range,
                                              int maxPoints)
{
    std::vector<SeriesPoint> points;
    const int64_t device = m_database->FindDevice(address);
    if (device == 0 || range.Length() == 0 || maxPoints < 1) {
        return points;
    }
    maxPoints = std::min(maxPoints, 100 * kMaxPlotPoints);
    const int64_t length = range.Length();
    int64_t span = std::max<int64_t>(1, (length + maxPoints - 1) / maxPoints);

    if (span < kMsPerMinute) {
        // Fine buckets: the reports themselves, folded here.
        SqliteStatement read(m_database->Handle(),
                             "SELECT minute, data FROM sample_blocks WHERE device = ?1 AND "
                             "minute BETWEEN ?2 AND ?3");
        read.Bind(1, device).Bind(2, SampleBlock::MinuteOf(range.beginMs));
        read.Bind(3, SampleBlock::MinuteOf(range.endMs - 1));
        std::vector<Bucket> buckets(static_cast<size_t>((length + span - 1) / span));
        bool any = false;
        while (read.Step() == SQLITE_ROW) {
            SampleBlock::ForEachIn(read.Int(0), read.Blob(1), [&](const SignalSample& s) {
                if (s.timeMs >= range.beginMs && s.timeMs < range.endMs) {
                    buckets[static_cast<size_t>((s.timeMs - range.beginMs) / span)].Add(s);
                    any = true;
                }
            });
        }
        if (any) {
            for (size_t i = 0; i < buckets.size(); ++i) {
                const Bucket& b = buckets[i];
                if (b.count == 0) {
                    continue;
                }
                points.push_back({range.beginMs + static_cast<int64_t>(i) * span, span, b.count,
                                  b.intensityMin, static_cast<double>(b.intensitySum) / b.count,
                                  b.intensityMax, b.qualityMin,
                                  static_cast<double>(b.qualitySum) / b.count, b.qualityMax,
                                  static_cast<double>(b.lockedCount) / b.count});
            }
            return points;
        }
        // The reports are gone (past the raw retention): the summaries stand in.
    }

    // Coarse buckets of whole minutes, folded by the database.
    span = std::max<int64_t>(kMsPerMinute, (span + kMsPerMinute - 1) / kMsPerMinute * kMsPerMinute);
    SqliteStatement read(m_database->Handle(),
                         "SELECT max(0, minute * 60000 - ?2) / ?4 AS b, sum(n), sum(locked_n), "
                         "min(i_min), sum(i_sum), max(i_max), min(q_min), sum(q_sum), max(q_max) "
                         "FROM sample_minutes WHERE device = ?1 AND minute BETWEEN ?5 AND ?3 "
                         "GROUP BY b ORDER BY b");
    read.Bind(1, device).Bind(2, range.beginMs).Bind(4, span);
    read.Bind(5, SampleBlock::MinuteOf(range.beginMs));
    read.Bind(3, SampleBlock::MinuteOf(range.endMs - 1));
    while (read.Step() == SQLITE_ROW) {
        const int64_t n = read.Int(1);
        if (n <= 0) {
            continue;
        }
        SeriesPoint p;
        p.timeMs = range.beginMs + read.Int(0) * span;
        p.spanMs = span;
        p.count = static_cast<int>(n);
        p.lockedShare = static_cast<double>(read.Int(2)) / n;
        p.intensityMin = static_cast<int>(read.Int(3));
        p.intensityMean = static_cast<double>(read.Int(4)) / n;
        p.intensityMax = static_cast<int>(read.Int(5));
        p.qualityMin = static_cast<int>(read.Int(6));
        p.qualityMean = static_cast<double>(read.Int(7)) / n;
        p.qualityMax = static_cast<int>(read.Int(8));
        points.push_back(p);
    }
    return points;
}

std::vector<Period> HistoryQuery::Periods(const std::string& address, TimeRange range,
                                          PeriodKind kind)
{
    std::vector<Period> list;
    const int64_t device = m_database->FindDevice(address);
    if (device == 0 || range.Length() == 0) {
        return list;
    }
    // An open period lasts as far as the device's last record.
    SqliteStatement read(
        m_database->Handle(),
        "SELECT p.begin_ms, coalesce(p.end_ms, max(p.begin_ms, coalesce(d.last_ms, 0))), "
        "p.end_ms IS NULL FROM periods p JOIN devices d ON d.id = p.device "
        "WHERE p.device = ?1 AND p.kind = ?2 AND p.begin_ms < ?4 AND "
        "(p.end_ms IS NULL OR p.end_ms > ?3) ORDER BY p.begin_ms");
    read.Bind(1, device).Bind(2, static_cast<int64_t>(kind));
    read.Bind(3, range.beginMs).Bind(4, range.endMs);
    while (read.Step() == SQLITE_ROW) {
        Period p{kind, std::max(read.Int(0), range.beginMs), std::min(read.Int(1), range.endMs),
                 read.Int(2) != 0};
        if (p.endMs > p.beginMs || (p.open && p.endMs == p.beginMs)) {
            list.push_back(p);
        }
    }
    return mergeSorted(std::move(list));
}

std::vector<Period> HistoryQuery::DisconnectedPeriods(const std::string& address, TimeRange range)
{
    std::vector<Period> gaps;
    SqliteStatement span(m_database->Handle(),
                         "SELECT first_ms, last_ms FROM devices WHERE address = ?1");
    span.Bind(1, address);
    if (span.Step() != SQLITE_ROW || span.IsNull(0)) {
        return gaps;
    }
    const int64_t from = std::max(range.beginMs, span.Int(0));
    const int64_t to = std::min(range.endMs, span.Int(1));
    int64_t at = from;
    for (const Period& c : Periods(address, {from, std::max(from, to)}, PeriodKind::Connected)) {
        if (c.beginMs > at) {
            gaps.push_back({PeriodKind::Connected, at, c.beginMs, false});
        }
        at = std::max(at, c.endMs);
    }
    if (to > at) {
        gaps.push_back({PeriodKind::Connected, at, to, false});
    }
    return gaps;
}

Availability HistoryQuery::AvailabilityOf(const std::string& address, TimeRange range)
{
    Availability a;
    a.connectedMs = totalLength(Periods(address, range, PeriodKind::Connected));
    const int64_t unlocked = totalLength(Periods(address, range, PeriodKind::Unlocked));
    a.lockedMs = std::max<int64_t>(0, a.connectedMs - unlocked);
    a.linkLostMs = totalLength(Periods(address, range, PeriodKind::LinkLost));
    return a;
}

std::vector<Outage> HistoryQuery::Outages(const std::string& address, TimeRange range)
{
    std::vector<Period> all = Periods(address, range, PeriodKind::Unlocked);
    for (const Period& p : Periods(address, range, PeriodKind::LinkLost)) {
        all.push_back(p);
    }
    std::vector<Outage> list;
    for (const Period& p : mergeSorted(std::move(all))) {
        list.push_back({p.beginMs, p.endMs, p.open});
    }
    return list;
}

std::vector<StoredEvent> HistoryQuery::Events(const std::string& address, TimeRange range,
                                              size_t limit)
{
    std::vector<StoredEvent> list;
    const int64_t device = m_database->FindDevice(address);
    if (device == 0) {
        return list;
    }
    SqliteStatement read(m_database->Handle(),
                         "SELECT t, kind, code, detail FROM events WHERE device = ?1 AND "
                         "t >= ?2 AND t < ?3 ORDER BY t, id LIMIT ?4");
    read.Bind(1, device).Bind(2, range.beginMs).Bind(3, range.endMs);
    read.Bind(4, static_cast<int64_t>(limit));
    while (read.Step() == SQLITE_ROW) {
        list.push_back({read.Int(0), static_cast<int>(read.Int(1)), static_cast<int>(read.Int(2)),
                        read.Text(3)});
    }
    return list;
}

namespace {

constexpr const char* kAlarmColumns =
    "SELECT a.id, d.address, d.name, a.rule, a.severity, a.raised_ms, a.cleared_ms, a.ack_ms, "
    "a.ack_by, a.detail FROM alarms a JOIN devices d ON d.id = a.device ";

} // namespace

std::vector<Alarm> HistoryQuery::Alarms(const std::string& address, TimeRange range, size_t limit)
{
    const std::string sql = std::string(kAlarmColumns) +
                            "WHERE a.raised_ms >= ?1 AND a.raised_ms < ?2 AND "
                            "(?3 = '' OR d.address = ?3) ORDER BY a.raised_ms DESC LIMIT ?4";
    SqliteStatement read(m_database->Handle(), sql.c_str());
    read.Bind(1, range.beginMs).Bind(2, range.endMs).Bind(3, address);
    read.Bind(4, static_cast<int64_t>(limit));
    return ReadAlarmRows(read);
}

std::vector<Alarm> HistoryQuery::ActiveAlarms()
{
    const std::string sql =
        std::string(kAlarmColumns) + "WHERE a.cleared_ms = 0 ORDER BY a.raised_ms DESC";
    SqliteStatement read(m_database->Handle(), sql.c_str());
    return ReadAlarmRows(read);
}

std::vector<std::pair<std::string, std::string>> HistoryQuery::LastVersions()
{
    std::vector<std::pair<std::string, std::string>> list;
    SqliteStatement devices(m_database->Handle(), "SELECT id, address FROM devices");
    // Newest first along the (device, time) index: a device reports its
    // version at every connect, so the walk is short.
    SqliteStatement last(m_database->Handle(),
                         "SELECT detail FROM events WHERE device = ?1 AND kind = ?2 "
                         "ORDER BY t DESC LIMIT 1");
    while (devices.Step() == SQLITE_ROW) {
        last.Bind(1, devices.Int(0));
        last.Bind(2, static_cast<int64_t>(DeviceEvent::Kind::VersionReported));
        if (last.Step() == SQLITE_ROW) {
            list.emplace_back(devices.Text(1), last.Text(0));
        }
        last.Reset();
    }
    return list;
}

bool HistoryQuery::ExportCsv(const std::string& address, TimeRange range, std::ostream& out)
{
    out << "time,time_ms,locked,playing,intensity,quality\n";
    const int64_t device = m_database->FindDevice(address);
    if (device == 0 || range.Length() == 0) {
        return static_cast<bool>(out);
    }
    // Minute by minute, so that a long range never sits in memory: the
    // reports where they are kept, else one line of the minute's summary
    // (mean values, the locked share in place of the flag, playing unknown).
    SqliteStatement read(m_database->Handle(),
                         "SELECT m.minute, b.data, m.n, m.locked_n, m.i_sum, m.q_sum "
                         "FROM sample_minutes m LEFT JOIN sample_blocks b "
                         "ON b.device = m.device AND b.minute = m.minute "
                         "WHERE m.device = ?1 AND m.minute BETWEEN ?2 AND ?3 ORDER BY m.minute");
    read.Bind(1, device).Bind(2, SampleBlock::MinuteOf(range.beginMs));
    read.Bind(3, SampleBlock::MinuteOf(range.endMs - 1));
    std::vector<SignalSample> minute;
    char number[48];
    int rc;
    while ((rc = read.Step()) == SQLITE_ROW && out) {
        if (!read.IsNull(1)) {
            minute.clear();
            SampleBlock::ForEachIn(read.Int(0), read.Blob(1), [&](const SignalSample& s) {
                if (s.timeMs >= range.beginMs && s.timeMs < range.endMs) {
                    minute.push_back(s);
                }
            });
            std::stable_sort(minute.begin(), minute.end(),
                             [](const auto& a, const auto& b) { return a.timeMs < b.timeMs; });
            for (const SignalSample& s : minute) {
                out << isoTime(s.timeMs) << ',' << s.timeMs << ',' << (s.locked ? 1 : 0) << ','
                    << (s.playing ? 1 : 0) << ',' << s.intensity << ',' << s.quality << '\n';
            }
            continue;
        }
        const int64_t t = read.Int(0) * kMsPerMinute;
        if (t < range.beginMs) {
            continue; // a summary cannot be cut at the range's start
        }
        const double n = static_cast<double>(std::max<int64_t>(1, read.Int(2)));
        std::snprintf(number, sizeof number, "%.3f,,%.1f,%.1f\n", read.Int(3) / n, read.Int(4) / n,
                      read.Int(5) / n);
        out << isoTime(t) << ',' << t << ',' << number;
    }
    return rc == SQLITE_DONE && static_cast<bool>(out);
}

std::vector<Alarm> ReadAlarmRows(SqliteStatement& read)
{
    std::vector<Alarm> list;
    while (read.Step() == SQLITE_ROW) {
        Alarm a;
        a.id = read.Int(0);
        a.address = read.Text(1);
        a.deviceName = read.Text(2);
        const int rule = static_cast<int>(read.Int(3));
        if (rule < 1 || rule > kAlarmRuleKindCount) {
            continue;
        }
        a.rule = static_cast<AlarmRuleKind>(rule);
        a.severity = read.Int(4) == static_cast<int>(AlarmSeverity::Information)
                         ? AlarmSeverity::Information
                         : AlarmSeverity::Warning;
        a.raisedMs = read.Int(5);
        a.clearedMs = read.Int(6);
        a.acknowledgedMs = read.Int(7);
        a.acknowledgedBy = read.Text(8);
        a.detail = read.Text(9);
        list.push_back(std::move(a));
    }
    return list;
}

} // namespace vireo
