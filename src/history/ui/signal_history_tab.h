#pragma once

#include "history/ui/history_source.h"

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QComboBox;
class QLabel;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTimer;

namespace vireo::ui {

class SignalChart;

// The "Signal History" tab of a device window: intensity and quality over
// the chosen range with unlocked and disconnected periods shaded, the
// availability for the range and its outages, and the range's export as CSV.
//
// Queries run on a worker of the global thread pool, one at a time, and post
// their answer back; the UI thread never reads the disk. While the tab is
// visible it asks again once a second when the device reported something
// since (NoteNewData), and every few seconds anyway so the range follows the
// clock.
class SignalHistoryTab : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::array<int64_t, 5> kRangesMs = {10 * 60 * 1000LL, 3600 * 1000LL,
                                                         24 * 3600 * 1000LL, 7 * 24 * 3600 * 1000LL,
                                                         30 * 24 * 3600 * 1000LL};
    static constexpr int kMaxPoints = 2000;

    explicit SignalHistoryTab(QWidget* parent = nullptr);
    ~SignalHistoryTab() override;

    // Where the device's history comes from; null shows nothing.
    void SetSource(std::shared_ptr<SignalHistorySource> source);
    // The clock the range ends at (ms since the epoch); tests replace it.
    void SetClock(std::function<int64_t()> clock);
    void ApplyCaptions();

    // The device reported a signal or an event: the next live tick asks again.
    void NoteNewData() { m_newData = true; }
    // Asks now, or once the query under way has answered.
    void Refresh();
    void SetRangeIndex(int index);
    int RangeIndex() const;

    const HistorySnapshot& Shown() const { return m_shown; }
    SignalChart* Chart() const { return m_chart; }
    QTableWidget* OutageTable() const { return m_outages; }
    QLabel* AvailabilityLabel() const { return m_availability; }

signals:
    // A query's answer is on screen.
    void snapshotShown();
    // An export finished (ok false: the operator was told why).
    void exportFinished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Posts a worker's answer back to the tab while it lives.
    struct Relay
    {
        std::mutex mutex;
        SignalHistoryTab* tab = nullptr;
    };

    void liveTick();
    void showSnapshot(HistorySnapshot snapshot);
    void fillOutages();
    void exportCsv();

    std::shared_ptr<SignalHistorySource> m_source;
    std::shared_ptr<Relay> m_relay;
    std::function<int64_t()> m_clock;
    HistorySnapshot m_shown;
    bool m_querying = false;
    bool m_queryAgain = false;
    bool m_newData = false;
    int64_t m_lastQueryMs = 0;

    QComboBox* m_range = nullptr;
    QLabel* m_rangeLabel = nullptr;
    QLabel* m_availability = nullptr;
    QPushButton* m_export = nullptr;
    SignalChart* m_chart = nullptr;
    QTableWidget* m_outages = nullptr;
    QSplitter* m_split = nullptr;
    bool m_splitPlaced = false;
    QTimer* m_liveTimer = nullptr;
};

} // namespace vireo::ui
