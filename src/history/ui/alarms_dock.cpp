#include "history/ui/alarms_dock.h"

#include "history/ui/history_format.h"
#include "history/ui/history_texts.h"
#include "history/ui/maintenance_rows.h"
#include "link/outage_rows.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace vireo::ui {

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kAddressRole = Qt::UserRole + 1;

int64_t systemNowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString deviceText(const AlarmRow& alarm)
{
    QString text = QString::fromLatin1(alarm.address);
    if (!alarm.name.empty()) {
        text += QStringLiteral(" (") + FromGbk(alarm.name) + QLatin1Char(')');
    }
    return text;
}

} // namespace

AlarmsDock::AlarmsDock(QWidget* parent) : QDockWidget(parent), m_clock(systemNowMs)
{
    setObjectName(QStringLiteral("Dock_alarms"));
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea | Qt::RightDockWidgetArea |
                    Qt::LeftDockWidgetArea);
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* bar = new QHBoxLayout();
    m_acknowledge = new QPushButton(body);
    m_acknowledge->setObjectName(QStringLiteral("Btn_acknowledge"));
    m_acknowledge->setEnabled(false);
    m_showCleared = new QCheckBox(body);
    m_showCleared->setObjectName(QStringLiteral("Check_showCleared"));
    m_showCleared->setChecked(true);
    m_historyStatus = new QLabel(body);
    m_historyStatus->setObjectName(QStringLiteral("Label_historyStatus"));
    m_historyStatus->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    m_historyStatus->hide();
    m_reportLabel = new QLabel(body);
    m_reportRange = new QComboBox(body);
    m_reportRange->setObjectName(QStringLiteral("Combo_reportRange"));
    m_exportReport = new QPushButton(body);
    m_exportReport->setObjectName(QStringLiteral("Btn_exportReport"));
    m_maintenance = new QPushButton(body);
    m_maintenance->setObjectName(QStringLiteral("Btn_maintenance"));
    m_maintenance->setEnabled(false);
    bar->addWidget(m_acknowledge);
    bar->addWidget(m_maintenance);
    bar->addWidget(m_showCleared);
    bar->addStretch(1);
    bar->addWidget(m_historyStatus);
    bar->addStretch(1);
    bar->addWidget(m_reportLabel);
    bar->addWidget(m_reportRange);
    bar->addWidget(m_exportReport);
    layout->addLayout(bar);

    m_list = new QTreeWidget(body);
    m_list->setObjectName(QStringLiteral("List_alarms"));
    m_list->setColumnCount(5);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setAlternatingRowColors(true);
    layout->addWidget(m_list, 1);
    setWidget(body);

    m_durationTimer = new QTimer(this);
    m_durationTimer->setInterval(1000);
    connect(m_durationTimer, &QTimer::timeout, this, &AlarmsDock::updateDurations);
    m_durationTimer->start();
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible) {
            updateDurations();
        }
    });
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &AlarmsDock::updateButtons);
    connect(m_exportReport, &QPushButton::clicked, this,
            [this] { emit exportReportRequested(ReportRangeMs()); });
    connect(m_acknowledge, &QPushButton::clicked, this, [this] {
        const std::vector<int64_t> ids = selectedUnacknowledged();
        if (!ids.empty()) {
            emit acknowledgeRequested(ids);
        }
    });
    connect(m_maintenance, &QPushButton::clicked, this, &AlarmsDock::askMaintenance);
    connect(m_showCleared, &QCheckBox::toggled, this, [this] {
        fill();
        emit refreshRequested();
    });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        emit deviceRequested(item->data(0, kAddressRole).toString());
    });
    ApplyCaptions();
}

void AlarmsDock::SetClock(std::function<int64_t()> clock)
{
    m_clock = clock ? std::move(clock) : systemNowMs;
}

void AlarmsDock::ApplyCaptions()
{
    setWindowTitle(HistoryLang(HistoryText::Alarms));
    m_acknowledge->setText(HistoryLang(HistoryText::Acknowledge));
    m_maintenance->setText(MaintenanceLang(MaintenanceText::Button));
    m_showCleared->setText(HistoryLang(HistoryText::ShowCleared));
    m_reportLabel->setText(LangText(outage_rows::Report));
    const int range = std::max(0, m_reportRange->currentIndex());
    m_reportRange->clear();
    m_reportRange->addItems({LangText(outage_rows::Shift), HistoryLang(HistoryText::Range24Hours),
                             HistoryLang(HistoryText::Range7Days),
                             HistoryLang(HistoryText::Range30Days)});
    m_reportRange->setCurrentIndex(range);
    m_exportReport->setText(LangText(outage_rows::ExportReport));
    m_list->setHeaderLabels({HistoryLang(HistoryText::Device), HistoryLang(HistoryText::Rule),
                             HistoryLang(HistoryText::Since), HistoryLang(HistoryText::Duration),
                             HistoryLang(HistoryText::Acknowledged)});
}

void AlarmsDock::SetHistoryStatus(const QString& text)
{
    if (m_historyStatus->text() != text) {
        m_historyStatus->setText(text);
    }
    m_historyStatus->setVisible(!text.isEmpty());
}

int64_t AlarmsDock::ReportRangeMs() const
{
    const int index = std::clamp(m_reportRange->currentIndex(), 0,
                                 static_cast<int>(std::size(kReportRangesMs)) - 1);
    return kReportRangesMs[static_cast<size_t>(index)];
}

bool AlarmsDock::ShowCleared() const
{
    return m_showCleared->isChecked();
}

void AlarmsDock::ShowAlarms(std::vector<AlarmRow> alarms)
{
    // Active before cleared, newest first within each.
    std::stable_sort(alarms.begin(), alarms.end(), [](const AlarmRow& a, const AlarmRow& b) {
        if (a.Active() != b.Active()) {
            return a.Active();
        }
        return a.raisedMs > b.raisedMs;
    });
    m_alarms = std::move(alarms);
    fill();
}

void AlarmsDock::fill()
{
    QSet<qint64> selected;
    for (const QTreeWidgetItem* item : m_list->selectedItems()) {
        selected.insert(item->data(0, kIdRole).toLongLong());
    }
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    const QColor alarmColour(190, 20, 20);
    const QColor clearedColour(120, 120, 120);
    for (const AlarmRow& alarm : m_alarms) {
        if (!alarm.Active() && !ShowCleared()) {
            continue;
        }
        auto* item = new QTreeWidgetItem(m_list);
        item->setData(0, kIdRole, QVariant::fromValue<qint64>(alarm.id));
        item->setData(0, kAddressRole, QString::fromLatin1(alarm.address));
        item->setText(DeviceColumn, deviceText(alarm));
        item->setText(RuleColumn, alarm.ruleText);
        item->setText(SinceColumn, FormatHistoryTime(alarm.raisedMs));
        if (alarm.Acknowledged()) {
            item->setText(AcknowledgedColumn, FromGbk(alarm.acknowledgedBy) + QStringLiteral(", ") +
                                                  FormatHistoryTime(alarm.acknowledgedMs));
        }
        if (!alarm.Active()) {
            for (int c = 0; c < m_list->columnCount(); ++c) {
                item->setForeground(c, clearedColour);
            }
        } else if (!alarm.Acknowledged() && !alarm.information) {
            QFont bold = item->font(0);
            bold.setBold(true);
            for (int c = 0; c < m_list->columnCount(); ++c) {
                item->setForeground(c, alarmColour);
                item->setFont(c, bold);
            }
        }
        item->setSelected(selected.contains(alarm.id));
    }
    updateDurations();
    for (int c = 0; c < m_list->columnCount() - 1; ++c) {
        m_list->resizeColumnToContents(c);
    }
    m_list->setUpdatesEnabled(true);
    updateButtons();
}

void AlarmsDock::updateDurations()
{
    if (!isVisible()) {
        return; // filled in again when shown
    }
    const int64_t now = m_clock();
    QHash<qint64, const AlarmRow*> byId;
    for (const AlarmRow& alarm : m_alarms) {
        byId.insert(alarm.id, &alarm);
    }
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        const AlarmRow* alarm = byId.value(item->data(0, kIdRole).toLongLong());
        if (alarm != nullptr) {
            const int64_t end = alarm->Active() ? now : alarm->clearedMs;
            item->setText(DurationColumn, FormatDuration(end - alarm->raisedMs));
        }
    }
}

void AlarmsDock::SelectAlarms(const std::vector<int64_t>& ids)
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        const int64_t id = item->data(0, kIdRole).toLongLong();
        item->setSelected(std::find(ids.begin(), ids.end(), id) != ids.end());
    }
}

std::vector<int64_t> AlarmsDock::selectedUnacknowledged() const
{
    std::vector<int64_t> ids;
    for (const QTreeWidgetItem* item : m_list->selectedItems()) {
        const int64_t id = item->data(0, kIdRole).toLongLong();
        const auto it = std::find_if(m_alarms.begin(), m_alarms.end(),
                                     [id](const AlarmRow& a) { return a.id == id; });
        if (it != m_alarms.end() && !it->Acknowledged()) {
            ids.push_back(id);
        }
    }
    return ids;
}

void AlarmsDock::updateButtons()
{
    m_acknowledge->setEnabled(!selectedUnacknowledged().empty());
    m_maintenance->setEnabled(!m_list->selectedItems().isEmpty());
}

void AlarmsDock::askMaintenance()
{
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const QString address = selected.first()->data(0, kAddressRole).toString();
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("Dlg_maintenance"));
    dialog.setWindowTitle(MaintenanceLang(MaintenanceText::Button).remove(QStringLiteral("...")) +
                          QStringLiteral(" - ") + selected.first()->text(DeviceColumn));
    auto* form = new QFormLayout(&dialog);
    auto* hours = new QSpinBox(&dialog);
    hours->setObjectName(QStringLiteral("Spin_maintenanceHours"));
    hours->setRange(1, 720);
    hours->setValue(4);
    auto* reason = new QLineEdit(&dialog);
    reason->setObjectName(QStringLiteral("Edit_maintenanceReason"));
    reason->setMaxLength(200);
    form->addRow(MaintenanceLang(MaintenanceText::Duration), hours);
    form->addRow(MaintenanceLang(MaintenanceText::Reason), reason);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false); // an operator says why
    connect(reason, &QLineEdit::textChanged, &dialog,
            [ok](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (ModalSeam::Exec(&dialog) == QDialog::Accepted && !reason->text().trimmed().isEmpty()) {
        emit maintenanceRequested(address, hours->value(), reason->text().trimmed());
    }
}

} // namespace vireo::ui
