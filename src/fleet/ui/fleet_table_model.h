#pragma once

#include "fleet/fleet_model.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

namespace vireo::ui {

// The fleet rows for a QTableView. It mirrors the core FleetModel: rows are
// added and removed with it, and value changes, however many devices report,
// are drained on the UI thread at most every kDrainIntervalMs, each drain one
// dataChanged per run of changed rows. Display texts are made once per change,
// so sorting and filtering a thousand rows reads prepared values.
class FleetTableModel : public QAbstractTableModel, private FleetModelObserver
{
    Q_OBJECT
public:
    enum Column {
        ColDevice,
        ColTicked,
        ColState,
        ColLock,
        ColIntensity,
        ColQuality,
        ColPlaying,
        ColLoader,
        ColSoftware,
        ColLastRefresh,
        ColReconnects,
        ColAlarms,
        ColLastLog,
        ColumnCount
    };
    static constexpr int kDrainIntervalMs = 250;
    // The value a column sorts by (numbers as numbers).
    static constexpr int SortRole = Qt::UserRole + 1;
    static constexpr int NodeRole = Qt::UserRole + 2;

    // Keeps `model` alive for as long as it observes it.
    explicit FleetTableModel(std::shared_ptr<FleetModel> model, QObject* parent = nullptr);
    ~FleetTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    NodeId NodeAt(int row) const;
    const FleetRow& RowAt(int row) const { return m_rows[static_cast<size_t>(row)].values; }
    // Applies what changed now (tests; the timer does it otherwise).
    void DrainNow();
    // Drains so far, for the load measurements.
    int Drains() const { return m_drains; }
    void RetranslateHeaders();

private:
    struct Cached
    {
        FleetRow values;
        QString texts[ColumnCount];
    };

    // FleetModelObserver
    void RowAboutToBeAdded(size_t row) override;
    void RowAdded(size_t row) override;
    void RowAboutToBeRemoved(size_t row) override;
    void RowRemoved(size_t row) override;
    void RowsChanged() override; // any thread

    void scheduleDrain();
    Cached cache(const FleetRow& row) const;

    std::shared_ptr<FleetModel> m_keep;
    FleetModel& m_model;
    std::vector<Cached> m_rows;
    QTimer m_drainTimer;
    QElapsedTimer m_sinceDrain;
    int m_drains = 0;
};

} // namespace vireo::ui
