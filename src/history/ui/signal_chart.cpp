#include "history/ui/signal_chart.h"

#include "history/ui/history_texts.h"

#include <QAreaSeries>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>

namespace vireo::ui {

namespace {

constexpr int64_t kHourMs = 3600 * 1000;

// A step line at 100 over each period of `kind` and at 0 elsewhere: the area
// beneath it is the shading.
QList<QPointF> shadingSteps(const HistorySnapshot& snapshot, OutagePeriod::Kind kind, int64_t nowMs,
                            int* count)
{
    QList<QPointF> points;
    points.append(QPointF(snapshot.fromMs, 0));
    *count = 0;
    for (const OutagePeriod& period : snapshot.shaded) {
        if (period.kind != kind) {
            continue;
        }
        const int64_t end = period.open ? std::max(period.endMs, nowMs) : period.endMs;
        const int64_t start = std::max(period.startMs, snapshot.fromMs);
        const int64_t stop = std::min(end, snapshot.toMs);
        if (stop <= start) {
            continue;
        }
        points.append(QPointF(start, 0));
        points.append(QPointF(start, 100));
        points.append(QPointF(stop, 100));
        points.append(QPointF(stop, 0));
        ++*count;
    }
    points.append(QPointF(snapshot.toMs, 0));
    return points;
}

QAreaSeries* shading(QLineSeries* edge, const QColor& fill)
{
    auto* area = new QAreaSeries(edge);
    area->setBrush(fill);
    QPen pen(fill.darker(130));
    pen.setWidthF(0.5);
    area->setPen(pen);
    return area;
}

} // namespace

SignalChart::SignalChart(QWidget* parent) : QChartView(parent)
{
    setObjectName(QStringLiteral("Chart_signal"));
    setRenderHint(QPainter::Antialiasing);
    auto* chart = new QChart();
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setAnimationOptions(QChart::NoAnimation);

    m_unlockedEdge = new QLineSeries(chart);
    m_disconnectedEdge = new QLineSeries(chart);
    m_unlocked = shading(m_unlockedEdge, QColor(230, 60, 50, 70));
    m_disconnected = shading(m_disconnectedEdge, QColor(110, 110, 120, 90));
    m_intensity = new QLineSeries(chart);
    m_intensity->setPen(QPen(QColor(30, 100, 200), 1.5));
    m_quality = new QLineSeries(chart);
    m_quality->setPen(QPen(QColor(20, 150, 60), 1.5));
    for (QAbstractSeries* series : std::initializer_list<QAbstractSeries*>{
             m_disconnected, m_unlocked, m_intensity, m_quality}) {
        chart->addSeries(series);
    }

    m_timeAxis = new QDateTimeAxis(chart);
    m_timeAxis->setTickCount(7);
    m_timeAxis->setTruncateLabels(false);
    m_valueAxis = new QValueAxis(chart);
    m_valueAxis->setRange(0, 100);
    m_valueAxis->setTickCount(6);
    m_valueAxis->setLabelFormat(QStringLiteral("%.0f %%"));
    m_valueAxis->setTruncateLabels(false);
    chart->addAxis(m_timeAxis, Qt::AlignBottom);
    chart->addAxis(m_valueAxis, Qt::AlignLeft);
    for (QAbstractSeries* series : chart->series()) {
        series->attachAxis(m_timeAxis);
        series->attachAxis(m_valueAxis);
    }
    // The view made a chart of its own; it is no longer the view's once
    // replaced, so it goes here.
    QChart* made = this->chart();
    setChart(chart);
    delete made;
    ApplyCaptions();
}

void SignalChart::ApplyCaptions()
{
    m_intensity->setName(HistoryLang(HistoryText::Intensity));
    m_quality->setName(HistoryLang(HistoryText::Quality));
    m_unlocked->setName(HistoryLang(HistoryText::Unlocked));
    m_disconnected->setName(HistoryLang(HistoryText::Disconnected));
}

void SignalChart::ShowSnapshot(const HistorySnapshot& snapshot, int64_t nowMs)
{
    QList<QPointF> intensity;
    QList<QPointF> quality;
    intensity.reserve(static_cast<qsizetype>(snapshot.samples.size()));
    quality.reserve(static_cast<qsizetype>(snapshot.samples.size()));
    for (const ChartSample& sample : snapshot.samples) {
        intensity.append(QPointF(sample.timeMs, sample.intensity));
        quality.append(QPointF(sample.timeMs, sample.quality));
    }
    m_intensity->replace(intensity);
    m_quality->replace(quality);
    m_unlockedEdge->replace(
        shadingSteps(snapshot, OutagePeriod::Kind::Unlocked, nowMs, &m_shaded[0]));
    m_disconnectedEdge->replace(
        shadingSteps(snapshot, OutagePeriod::Kind::Disconnected, nowMs, &m_shaded[1]));

    // A device recorded for less than the range: the axis starts shortly
    // before its first record instead of leaving most of the plot empty.
    int64_t from = snapshot.fromMs;
    int64_t first = snapshot.toMs;
    if (!snapshot.samples.empty()) {
        first = std::min(first, snapshot.samples.front().timeMs);
    }
    for (const OutagePeriod& period : snapshot.shaded) {
        first = std::min(first, period.startMs);
    }
    if (first < snapshot.toMs) {
        const int64_t pad = std::max<int64_t>(10000, (snapshot.toMs - first) / 20);
        from = std::max(from, first - pad);
    }
    const int64_t span = snapshot.toMs - from;
    m_timeAxis->setFormat(span <= 2 * kHourMs    ? QStringLiteral("hh:mm:ss")
                          : span <= 26 * kHourMs ? QStringLiteral("hh:mm")
                                                 : QStringLiteral("MM-dd hh:mm"));
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from),
                         QDateTime::fromMSecsSinceEpoch(snapshot.toMs));
}

void SignalChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    // As many time labels as fit side by side, from two to nine.
    const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("00-00 00:00")) + 24;
    m_timeAxis->setTickCount(std::clamp(width() / std::max(1, labelWidth), 2, 9));
}

int SignalChart::PointCount() const
{
    return static_cast<int>(m_intensity->count());
}

int SignalChart::ShadedCount(OutagePeriod::Kind kind) const
{
    return m_shaded[kind == OutagePeriod::Kind::Unlocked ? 0 : 1];
}

} // namespace vireo::ui
