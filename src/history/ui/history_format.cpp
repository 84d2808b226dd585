#include "history/ui/history_format.h"

#include "link/outage_rows.h"
#include "ui/gbk_text.h"

#include <QDateTime>

namespace vireo::ui {

QString FormatHistoryTime(int64_t timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString FormatDuration(int64_t durationMs)
{
    const int64_t seconds = std::max<int64_t>(0, durationMs) / 1000;
    const auto two = [](int64_t value) {
        return QStringLiteral("%1").arg(value, 2, 10, QChar('0'));
    };
    if (seconds < 60) {
        return QStringLiteral("%1 s").arg(seconds);
    }
    if (seconds < 3600) {
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(two(seconds % 60));
    }
    if (seconds < 86400) {
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(two(seconds / 60 % 60));
    }
    return QStringLiteral("%1 d %2 h").arg(seconds / 86400).arg(two(seconds / 3600 % 24));
}

namespace {

// 3480 -> "3,480", the same in both languages.
QString grouped(uint64_t value)
{
    QString digits = QString::number(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(at, QLatin1Char(','));
    }
    return digits;
}

} // namespace

QString HistoryStatusText(const HistoryStatus& status, int64_t nowMs)
{
    if (!status.paused) {
        return {};
    }
    QString text = LangText(outage_rows::HistoryPaused) + QString::fromLatin1(status.reason);
    if (status.pausedSinceMs > 0) {
        const QDateTime since = QDateTime::fromMSecsSinceEpoch(status.pausedSinceMs);
        const bool today = since.date() == QDateTime::fromMSecsSinceEpoch(nowMs).date();
        text +=
            LangText(outage_rows::Since) +
            since.toString(today ? QStringLiteral("hh:mm") : QStringLiteral("yyyy-MM-dd hh:mm"));
    }
    text +=
        QStringLiteral(", ") + grouped(status.samplesDropped) + LangText(outage_rows::NotRecorded);
    if (status.pendingRecords > 0) {
        text +=
            QStringLiteral(", ") + grouped(status.pendingRecords) + LangText(outage_rows::Waiting);
    }
    return text;
}

} // namespace vireo::ui
