#include "fleet/ui/fleet_table_model.h"

#include "fleet/fleet_texts.h"
#include "lang/display_text.h"
#include "ui/gbk_text.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

namespace vireo::ui {

namespace {

QColor stateColour(FleetState state)
{
    switch (state) {
    case FleetState::NotConnected:
        return QColor(0xE0, 0xE0, 0xE0);
    case FleetState::Connecting:
        return QColor(0xFF, 0xF1, 0xB8);
    case FleetState::Connected:
        return QColor(0xD4, 0xF0, 0xD4);
    case FleetState::Refreshed:
        return QColor(0x9F, 0xDF, 0x9F);
    case FleetState::Upgrading:
        return QColor(0xBF, 0xD8, 0xFF);
    case FleetState::Failed:
        return QColor(0xFF, 0xB0, 0xB0);
    }
    return {};
}

QColor levelColour(int percent)
{
    if (percent < 30) {
        return QColor(0xFF, 0xB0, 0xB0);
    }
    if (percent < 60) {
        return QColor(0xFF, 0xD8, 0x9F);
    }
    return QColor(0x9F, 0xDF, 0x9F);
}

QString shown(const std::string& gbk)
{
    return FromGbk(DisplayText(gbk));
}

} // namespace

FleetTableModel::FleetTableModel(std::shared_ptr<FleetModel> model, QObject* parent)
    : QAbstractTableModel(parent), m_keep(std::move(model)), m_model(*m_keep)
{
    m_drainTimer.setSingleShot(true);
    connect(&m_drainTimer, &QTimer::timeout, this, &FleetTableModel::DrainNow);
    m_sinceDrain.start();
    const size_t count = m_model.Count();
    m_rows.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        m_rows.push_back(cache(m_model.Row(i)));
    }
    m_model.SetObserver(this);
}

FleetTableModel::~FleetTableModel()
{
    m_model.SetObserver(nullptr);
}

int FleetTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FleetTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

NodeId FleetTableModel::NodeAt(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[static_cast<size_t>(row)].values.node : kNoNode;
}

FleetTableModel::Cached FleetTableModel::cache(const FleetRow& row) const
{
    Cached c;
    c.values = row;
    QString* t = c.texts;
    t[ColDevice] = shown(row.caption);
    t[ColTicked] = row.ticked ? QStringLiteral("\u2713") : QString();
    t[ColState] = LangText(fleet_text::NotConnected + static_cast<int>(row.state));
    if (!row.reason.empty()) {
        t[ColState] += QStringLiteral(": ") + shown(row.reason);
    }
    if (row.signalKnown) {
        t[ColLock] = LangText(row.locked ? fleet_text::Locked : fleet_text::Unlocked);
        t[ColIntensity] = QString::number(row.intensity) + QLatin1Char('%');
        t[ColQuality] = QString::number(row.quality) + QLatin1Char('%');
    }
    t[ColPlaying] = shown(row.playing);
    t[ColLoader] = QString::fromStdString(row.loader);
    t[ColSoftware] = QString::fromStdString(row.software);
    if (row.lastRefreshMs != 0) {
        t[ColLastRefresh] =
            QDateTime::fromMSecsSinceEpoch(row.lastRefreshMs).toString("yyyy-MM-dd hh:mm:ss");
    }
    t[ColReconnects] = row.reconnects != 0 ? QString::number(row.reconnects) : QString();
    t[ColAlarms] = row.activeAlarms != 0 ? QString::number(row.activeAlarms) : QString();
    t[ColLastLog] = shown(row.lastLog);
    return c;
}

QVariant FleetTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount) {
        return {};
    }
    const Cached& c = m_rows[static_cast<size_t>(index.row())];
    const FleetRow& row = c.values;
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return c.texts[column];
    case Qt::ToolTipRole:
        return column == ColState || column == ColLastLog || column == ColPlaying
                   ? QVariant(c.texts[column])
                   : QVariant();
    case NodeRole:
        return QVariant::fromValue<qulonglong>(row.node);
    case SortRole:
        switch (column) {
        case ColState:
            return static_cast<int>(row.state);
        case ColLock:
            return row.signalKnown ? (row.locked ? 2 : 1) : 0;
        case ColIntensity:
            return row.signalKnown ? row.intensity : -1;
        case ColQuality:
            return row.signalKnown ? row.quality : -1;
        case ColLastRefresh:
            return QVariant::fromValue<qlonglong>(row.lastRefreshMs);
        case ColReconnects:
            return row.reconnects;
        case ColAlarms:
            return row.activeAlarms;
        default:
            return c.texts[column];
        }
    case Qt::BackgroundRole:
        if (column == ColState) {
            return QBrush(stateColour(row.state));
        }
        if (!row.signalKnown) {
            return {};
        }
        if (column == ColLock) {
            return QBrush(row.locked ? QColor(0x9F, 0xDF, 0x9F) : QColor(0xFF, 0xB0, 0xB0));
        }
        if (column == ColIntensity || column == ColQuality) {
            return QBrush(levelColour(column == ColIntensity ? row.intensity : row.quality));
        }
        if (column == ColAlarms && row.activeAlarms > 0) {
            return QBrush(QColor(0xFF, 0xB0, 0xB0));
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column == ColIntensity || column == ColQuality || column == ColReconnects ||
            column == ColAlarms) {
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        }
        return {};
    default:
        return {};
    }
}

QVariant FleetTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static constexpr int kRows[ColumnCount] = {
        fleet_text::Device,    fleet_text::Ticked,      fleet_text::State,      fleet_text::Lock,
        fleet_text::Intensity, fleet_text::Quality,     fleet_text::Playing,    fleet_text::Loader,
        fleet_text::Software,  fleet_text::LastRefresh, fleet_text::Reconnects, fleet_text::Alarms,
        fleet_text::LastLog};
    return LangText(kRows[section]);
}

void FleetTableModel::RetranslateHeaders()
{
    for (Cached& c : m_rows) {
        c = cache(c.values);
    }
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!m_rows.empty()) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    }
}

void FleetTableModel::RowAboutToBeAdded(size_t row)
{
    beginInsertRows({}, static_cast<int>(row), static_cast<int>(row));
}

void FleetTableModel::RowAdded(size_t row)
{
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(row), cache(m_model.Row(row)));
    endInsertRows();
}

void FleetTableModel::RowAboutToBeRemoved(size_t row)
{
    beginRemoveRows({}, static_cast<int>(row), static_cast<int>(row));
}

void FleetTableModel::RowRemoved(size_t row)
{
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(row));
    endRemoveRows();
}

void FleetTableModel::RowsChanged()
{
    // Any thread, with the core model's lock held: only post.
    QMetaObject::invokeMethod(this, &FleetTableModel::scheduleDrain, Qt::QueuedConnection);
}

void FleetTableModel::scheduleDrain()
{
    if (m_drainTimer.isActive()) {
        return;
    }
    const qint64 waited = m_sinceDrain.elapsed();
    m_drainTimer.start(waited >= kDrainIntervalMs ? 0
                                                  : static_cast<int>(kDrainIntervalMs - waited));
}

void FleetTableModel::DrainNow()
{
    m_drainTimer.stop();
    m_sinceDrain.restart();
    ++m_drains;
    const std::vector<size_t> changed = m_model.TakeChanged();
    size_t i = 0;
    while (i < changed.size()) {
        size_t last = i;
        while (last + 1 < changed.size() && changed[last + 1] == changed[last] + 1) {
            ++last;
        }
        for (size_t k = i; k <= last; ++k) {
            if (changed[k] < m_rows.size()) {
                m_rows[changed[k]] = cache(m_model.Row(changed[k]));
            }
        }
        if (changed[last] < m_rows.size()) {
            emit dataChanged(index(static_cast<int>(changed[i]), 0),
                             index(static_cast<int>(changed[last]), ColumnCount - 1));
        }
        i = last + 1;
    }
}

} // namespace vireo::ui
