#pragma once

#include "history/ui/history_source.h"

#include <QChartView>

class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace vireo::ui {

// Intensity and quality of one device over a range of time, with the periods
// without lock and without a link shaded behind the lines.
class SignalChart : public QChartView
{
    Q_OBJECT
public:
    explicit SignalChart(QWidget* parent = nullptr);

    void ShowSnapshot(const HistorySnapshot& snapshot, int64_t nowMs);
    void ApplyCaptions();

    int PointCount() const;
    // Shaded periods now drawn, by kind.
    int ShadedCount(OutagePeriod::Kind kind) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLineSeries* m_intensity = nullptr;
    QLineSeries* m_quality = nullptr;
    QLineSeries* m_unlockedEdge = nullptr;
    QLineSeries* m_disconnectedEdge = nullptr;
    QAreaSeries* m_unlocked = nullptr;
    QAreaSeries* m_disconnected = nullptr;
    QDateTimeAxis* m_timeAxis = nullptr;
    QValueAxis* m_valueAxis = nullptr;
    int m_shaded[2] = {0, 0};
};

} // namespace vireo::ui
