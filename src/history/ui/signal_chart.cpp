#include "history/ui/signal_chart.h"

#include "history/ui/chart_segments.h"
#include "history/ui/history_texts.h"

#include <QAreaSeries>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>

namespace vireo::ui {

namespace {

constexpr int64_t kHourMs = 3600 * 1000;
// Runs of the mean drawn at most: a series each.
constexpr size_t kMaxRuns = 120;
const QColor kIntensityColor(30, 100, 200);
const QColor kQualityColor(20, 150, 60);

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
    // The view made a chart of its own; it is no longer the view's once
    // replaced, so it goes here.
    QChart* made = this->chart();
    setChart(chart);
    delete made;
    attach(m_disconnected, true);
    attach(m_unlocked, true);
    m_intensityBand = band(kIntensityColor, &m_intensityUpper, &m_intensityLower);
    m_qualityBand = band(kQualityColor, &m_qualityUpper, &m_qualityLower);
    runSeries(m_intensityRuns, 0, QPen(kIntensityColor, 1.5));
    runSeries(m_qualityRuns, 0, QPen(kQualityColor, 1.5));
    ApplyCaptions();
}

void SignalChart::attach(QAbstractSeries* series, bool inLegend)
{
    chart()->addSeries(series);
    series->attachAxis(m_timeAxis);
    series->attachAxis(m_valueAxis);
    if (!inLegend) {
        for (QLegendMarker* marker : chart()->legend()->markers(series)) {
            marker->setVisible(false);
        }
    }
}

QAreaSeries* SignalChart::band(const QColor& color, QLineSeries** upper, QLineSeries** lower)
{
    *upper = new QLineSeries(chart());
    *lower = new QLineSeries(chart());
    auto* area = new QAreaSeries(*upper, *lower);
    QColor fill = color;
    fill.setAlpha(45);
    area->setBrush(fill);
    area->setPen(Qt::NoPen); // a break is an empty stretch of the band, with no edge drawn
    attach(area, false);
    return area;
}

QLineSeries* SignalChart::runSeries(std::vector<QLineSeries*>& lines, size_t run, const QPen& pen)
{
    while (lines.size() <= run) {
        auto* series = new QLineSeries(chart());
        series->setPen(pen);
        attach(series, lines.empty());
        lines.push_back(series);
    }
    return lines[run];
}

void SignalChart::ApplyCaptions()
{
    m_intensityRuns.front()->setName(HistoryLang(HistoryText::Intensity));
    m_qualityRuns.front()->setName(HistoryLang(HistoryText::Quality));
    m_unlocked->setName(HistoryLang(HistoryText::Unlocked));
    m_disconnected->setName(HistoryLang(HistoryText::Disconnected));
}

void SignalChart::ShowSnapshot(const HistorySnapshot& snapshot, int64_t nowMs)
{
    const std::vector<ChartSample>& samples = snapshot.samples;
    std::vector<size_t> starts = ChartRunStarts(snapshot, nowMs, kMaxRuns);
    m_runs = static_cast<int>(starts.size());
    starts.push_back(samples.size());
    QList<QPointF> intensityUpper;
    QList<QPointF> intensityLower;
    QList<QPointF> qualityUpper;
    QList<QPointF> qualityLower;
    size_t run = 0;
    for (; run + 1 < starts.size(); ++run) {
        QList<QPointF> intensity;
        QList<QPointF> quality;
        for (size_t i = starts[run]; i < starts[run + 1]; ++i) {
            const ChartSample& sample = samples[i];
            const double t = static_cast<double>(sample.timeMs);
            intensity.append(QPointF(t, sample.intensity));
            quality.append(QPointF(t, sample.quality));
            intensityUpper.append(QPointF(t, std::max(sample.intensityMax, sample.intensity)));
            intensityLower.append(QPointF(t, std::min(sample.intensityMin, sample.intensity)));
            qualityUpper.append(QPointF(t, std::max(sample.qualityMax, sample.quality)));
            qualityLower.append(QPointF(t, std::min(sample.qualityMin, sample.quality)));
        }
        if (run + 2 < starts.size()) {
            // Across the break both edges of the band run together at 0:
            // nothing is filled there.
            const double end = static_cast<double>(samples[starts[run + 1] - 1].timeMs);
            const double next = static_cast<double>(samples[starts[run + 1]].timeMs);
            for (QList<QPointF>* edge :
                 {&intensityUpper, &intensityLower, &qualityUpper, &qualityLower}) {
                edge->append(QPointF(end, 0));
                edge->append(QPointF(next, 0));
            }
        }
        runSeries(m_intensityRuns, run, m_intensityRuns.front()->pen())->replace(intensity);
        runSeries(m_qualityRuns, run, m_qualityRuns.front()->pen())->replace(quality);
    }
    for (size_t unused = run; unused < m_intensityRuns.size(); ++unused) {
        m_intensityRuns[unused]->clear();
        m_qualityRuns[unused]->clear();
    }
    m_intensityUpper->replace(intensityUpper);
    m_intensityLower->replace(intensityLower);
    m_qualityUpper->replace(qualityUpper);
    m_qualityLower->replace(qualityLower);
    m_unlockedEdge->replace(
        shadingSteps(snapshot, OutagePeriod::Kind::Unlocked, nowMs, &m_shaded[0]));
    m_disconnectedEdge->replace(
        shadingSteps(snapshot, OutagePeriod::Kind::Disconnected, nowMs, &m_shaded[1]));

    // The range asked for, recorded or not: a device recorded for an hour
    // of the last day shows as what it is, an hour of a day.
    const int64_t span = snapshot.toMs - snapshot.fromMs;
    m_timeAxis->setFormat(span <= 2 * kHourMs    ? QStringLiteral("hh:mm:ss")
                          : span <= 26 * kHourMs ? QStringLiteral("hh:mm")
                                                 : QStringLiteral("MM-dd hh:mm"));
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(snapshot.fromMs),
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
    int count = 0;
    for (const QLineSeries* series : m_intensityRuns) {
        count += static_cast<int>(series->count());
    }
    return count;
}

QList<QPointF> SignalChart::IntensityBandUpper() const
{
    return m_intensityUpper->points();
}

int SignalChart::ShadedCount(OutagePeriod::Kind kind) const
{
    return m_shaded[kind == OutagePeriod::Kind::Unlocked ? 0 : 1];
}

} // namespace vireo::ui
