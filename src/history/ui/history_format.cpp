#include "history/ui/history_format.h"

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

} // namespace vireo::ui
