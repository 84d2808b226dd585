#pragma once

#include "history/ui/history_source.h"

#include <QChartView>
#include <QColor>
#include <vector>

class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace vireo::ui {

// Intensity and quality of one device over a range of time: the mean of each
// bucket as a line broken wherever the lock or the link was lost, the lowest
// and highest report of each bucket as a band behind it, and the periods
// without lock and without a link shaded. The time axis spans the range
// asked for, whatever part of it was recorded.
class SignalChart : public QChartView
{
    Q_OBJECT
public:
    explicit SignalChart(QWidget* parent = nullptr);

    void ShowSnapshot(const HistorySnapshot& snapshot, int64_t nowMs);
    void ApplyCaptions();

    // Mean points drawn (intensity), and the runs they are drawn in.
    int PointCount() const;
    int RunCount() const { return m_runs; }
    // The band's points (upper edge of intensity), for a check of its shape.
    QList<QPointF> IntensityBandUpper() const;
    // Shaded periods now drawn, by kind.
    int ShadedCount(OutagePeriod::Kind kind) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The line series of one run of `lines`, made on first need.
    QLineSeries* runSeries(std::vector<QLineSeries*>& lines, size_t run, const QPen& pen);
    QAreaSeries* band(const QColor& color, QLineSeries** upper, QLineSeries** lower);
    void attach(QAbstractSeries* series, bool inLegend);

    // Each run of the mean in a series of its own; the first carries the
    // legend's entry, the others are kept (empty) once made.
    std::vector<QLineSeries*> m_intensityRuns;
    std::vector<QLineSeries*> m_qualityRuns;
    QLineSeries* m_intensityUpper = nullptr;
    QLineSeries* m_intensityLower = nullptr;
    QLineSeries* m_qualityUpper = nullptr;
    QLineSeries* m_qualityLower = nullptr;
    QAreaSeries* m_intensityBand = nullptr;
    QAreaSeries* m_qualityBand = nullptr;
    int m_runs = 0;
    QLineSeries* m_unlockedEdge = nullptr;
    QLineSeries* m_disconnectedEdge = nullptr;
    QAreaSeries* m_unlocked = nullptr;
    QAreaSeries* m_disconnected = nullptr;
    QDateTimeAxis* m_timeAxis = nullptr;
    QValueAxis* m_valueAxis = nullptr;
    int m_shaded[2] = {0, 0};
};

} // namespace vireo::ui
