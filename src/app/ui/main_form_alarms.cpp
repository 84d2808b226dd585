// The main window's part of the signal history and alarms: the history
// service, the alarms dock and its menu, the machine tree's alarm marks, the
// desktop notification and the rules dialog.

#include "app/ui/machine_tree_view.h"
#include "app/ui/main_form.h"
#include "history/availability_report.h"
#include "history/history_database.h"
#include "history/silence_store.h"
#include "history/ui/alarm_monitor.h"
#include "history/ui/alarm_rules_dialog.h"
#include "history/ui/alarms_dock.h"
#include "history/ui/history_format.h"
#include "history/ui/history_link.h"
#include "history/ui/history_texts.h"
#include "lang/display_text.h"
#include "lang/gbk_text.h"
#include "link/outage_rows.h"
#include "ui/gbk_text.h"
#include "ui/icons.h"
#include "ui/message_box.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <pwd.h>
#include <unistd.h>
#include <utility>

namespace vireo::ui {

namespace {

constexpr int kAlarmsDockHeight = 170;

std::vector<AlarmRuleEdit> editsOf(const AlarmRuleSet& set)
{
    std::vector<AlarmRuleEdit> edits;
    for (const AlarmRule& rule : set.rules) {
        AlarmRuleEdit edit;
        edit.rule = static_cast<int>(rule.kind);
        edit.name = AlarmMonitor::RuleName(rule.kind);
        edit.enabled = rule.enabled;
        edit.hasThreshold = rule.kind == AlarmRuleKind::LowQuality;
        edit.threshold = rule.threshold;
        edit.hasHold = rule.Severity() == AlarmSeverity::Warning;
        edit.holdSeconds = rule.raiseAfterS;
        edit.clearSeconds = rule.clearAfterS;
        edits.push_back(edit);
    }
    return edits;
}

AlarmRuleSet setOf(const std::vector<AlarmRuleEdit>& edits, AlarmRuleSet set)
{
    for (const AlarmRuleEdit& edit : edits) {
        if (edit.rule < 1 || edit.rule > kAlarmRuleKindCount) {
            continue;
        }
        AlarmRule& rule = set.Rule(static_cast<AlarmRuleKind>(edit.rule));
        rule.enabled = edit.enabled;
        rule.threshold = edit.threshold;
        rule.raiseAfterS = edit.holdSeconds;
        rule.clearAfterS = edit.clearSeconds;
    }
    return set;
}

} // namespace

std::string MainForm::OperatorName()
{
    for (const char* variable : {"USER", "USERNAME", "LOGNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty()) {
            return ToGbk(name);
        }
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) {
        return entry->pw_name;
    }
    return "operator";
}

void MainForm::buildAlarms()
{
    m_alarmsDock = new AlarmsDock(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_alarmsDock);
    m_alarmsDock->hide();
    // Shown the first time, the dock takes a few rows, not half the frame.
    connect(m_alarmsDock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible && !std::exchange(m_alarmsDockPlaced, true)) {
            resizeDocks({m_alarmsDock}, {kAlarmsDockHeight}, Qt::Vertical);
        }
    });
    m_alarmsMenu = menuBar()->addMenu(QString());
    m_alarmsMenu->setObjectName(QStringLiteral("menu_alarms"));
    QAction* show = m_alarmsDock->toggleViewAction();
    show->setObjectName(QStringLiteral("menu_alarmsWindow"));
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    m_alarmsMenu->addAction(show);
    m_alarmRules = new QAction(this);
    m_alarmRules->setObjectName(QStringLiteral("menu_alarmRules"));
    m_alarmsMenu->addAction(m_alarmRules);
    connect(m_alarmRules, &QAction::triggered, this, &MainForm::AlarmRulesClick);
    connect(m_alarmsDock, &AlarmsDock::deviceRequested, this, &MainForm::showAlarmDevice);
    connect(m_alarmsDock, &AlarmsDock::acknowledgeRequested, this,
            [this](const std::vector<int64_t>& ids) {
                if (m_alarmMonitor != nullptr) {
                    m_alarmMonitor->Acknowledge(ids, OperatorName());
                }
            });
    connect(m_alarmsDock, &AlarmsDock::exportReportRequested, this, &MainForm::ExportReportClick);
    m_historyStatus = new QLabel(this);
    m_historyStatus->setObjectName(QStringLiteral("Label_historyStatus"));
    m_historyStatus->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    m_historyStatus->hide();
    statusBar()->addPermanentWidget(m_historyStatus);
    // Status() reads counters only: polling it from the UI thread never
    // waits on the disk.
    auto* statusTimer = new QTimer(this);
    statusTimer->setInterval(1000);
    connect(statusTimer, &QTimer::timeout, this, &MainForm::updateHistoryStatus);
    statusTimer->start();
    connect(m_alarmsDock, &AlarmsDock::maintenanceRequested, this,
            [this](const QString& address, int hours, const QString& reason) {
                silenceDevice(address, hours, reason);
            });
    connect(m_alarmsDock, &AlarmsDock::refreshRequested, this, [this] {
        if (m_alarmMonitor != nullptr) {
            m_alarmMonitor->Refresh();
        }
    });
}

void MainForm::silenceDevice(const QString& address, int hours, const QString& reason)
{
    if (m_history == nullptr || !m_history->Ok()) {
        return;
    }
    // Stored in the history file, where the monitors sharing it read it; on
    // a worker, as the UI thread never waits on the disk (stopHistory waits
    // for it).
    Silence silence;
    silence.kind = Silence::Target::Device;
    silence.target = address.toStdString();
    silence.createdMs = QDateTime::currentMSecsSinceEpoch();
    silence.untilMs = silence.createdMs + int64_t{hours} * 3600 * 1000;
    silence.reason = reason.toStdString();
    silence.by = GbkToUtf8(OperatorName());
    QThreadPool::globalInstance()->start([file = m_history->File(), silence]() mutable {
        std::string error;
        auto opened = HistoryDatabase::Open(file, false);
        if (!opened.database || !SilenceStore::Add(*opened.database, silence, &error)) {
            std::fprintf(stderr, "history: cannot store the maintenance of %s: %s\n",
                         silence.target.c_str(),
                         opened.database ? error.c_str() : opened.error.c_str());
        }
    });
}

void MainForm::applyAlarmCaptions()
{
    m_alarmsMenu->menuAction()->setText(HistoryLang(HistoryText::AlarmsMenu));
    m_alarmsDock->toggleViewAction()->setText(HistoryLang(HistoryText::AlarmsWindow));
    m_alarmRules->setText(HistoryLang(HistoryText::AlarmRulesMenu));
    m_alarmsDock->ApplyCaptions();
    if (m_alarmMonitor != nullptr) {
        m_alarmMonitor->Refresh(); // rule names are in the language
    }
}

void MainForm::startHistory()
{
    if (m_history != nullptr || m_historyOpener.joinable()) {
        return;
    }
    HistoryService::Options options = m_historyOptions;
    if (!options.log) {
        options.log = [](const std::string& line) {
            std::fprintf(stderr, "history: %s\n", line.c_str());
        };
    }
    m_historyOpener = std::thread([this, options]() mutable {
        m_openedHistory = std::make_unique<HistoryService>(std::move(options));
        // Dropped unheard when the form has gone first.
        QMetaObject::invokeMethod(this, &MainForm::historyOpened, Qt::QueuedConnection);
    });
}

void MainForm::historyOpened()
{
    if (!m_historyOpener.joinable()) {
        return;
    }
    m_historyOpener.join(); // the opener's last step was to post this
    m_history = std::move(m_openedHistory);
    if (m_history == nullptr) {
        return;
    }
    if (!m_history->MovedAside().empty()) {
        MessageBox::Information(this, HistoryLang(HistoryText::CorruptMoved) +
                                          QString::fromLocal8Bit(m_history->MovedAside().string()) +
                                          HistoryLang(HistoryText::CorruptRestarted));
    } else if (!m_history->Ok()) {
        MessageBox::Information(this, HistoryLang(HistoryText::HistoryUnavailable) +
                                          QString::fromLocal8Bit(m_history->Error()));
    }
    m_alarmMonitor = new AlarmMonitor(
        // The monitor goes before the service (stopHistory).
        std::shared_ptr<AlarmEngine>(&m_history->Alarms(), [](AlarmEngine*) {}), m_alarmsDock,
        this);
    connect(m_alarmMonitor, &AlarmMonitor::alarmsChanged, this, &MainForm::updateAlarmMarks);
    // Alarms restored for machines no longer listed can never clear.
    std::vector<std::string> listed;
    for (const ChosenMachine& machine : m_opening) {
        listed.push_back(DeviceKeyOfCaption(machine.address).address);
    }
    m_history->Alarms().RetainDevices(listed);
    // The fleet counts each device's alarms and acknowledges them from its selection.
    AttachAlarms(&m_history->Alarms());
    connect(m_alarmMonitor, &AlarmMonitor::alarmsRaised, this, &MainForm::onAlarmsRaised);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(LoadIcon(QStringLiteral("vireo")), this);
        m_tray->setToolTip(QString::fromLatin1(kMainCaption));
        connect(m_tray, &QSystemTrayIcon::messageClicked, this, [this] {
            m_alarmsDock->show();
            m_alarmsDock->raise();
        });
        m_tray->show();
    }
    for (MdiChild* window : ChildrenInTreeOrder()) {
        window->HistoryOpened();
    }
    updateAlarmMarks();
}

void MainForm::stopHistory()
{
    if (m_historyOpener.joinable()) {
        m_historyOpener.join();
    }
    if (m_openedHistory != nullptr) {
        m_openedHistory->Stop(); // opened, never taken
        m_openedHistory.reset();
    }
    delete m_alarmMonitor;
    m_alarmMonitor = nullptr;
    // History queries still running on workers read through the service.
    QThreadPool::globalInstance()->waitForDone();
    if (m_history != nullptr) {
        m_history->Stop();
        m_history.reset();
    }
}

void MainForm::updateHistoryStatus()
{
    const QString text =
        m_history != nullptr
            ? HistoryStatusText(m_history->Status(), QDateTime::currentMSecsSinceEpoch())
            : QString();
    if (m_historyStatus->text() != text) {
        m_historyStatus->setText(text);
    }
    m_historyStatus->setVisible(!text.isEmpty());
    m_alarmsDock->SetHistoryStatus(text);
}

void MainForm::ExportReportClick(int64_t rangeMs)
{
    if (m_history == nullptr) {
        return;
    }
    QPointer<QFileDialog> dialog =
        new QFileDialog(this, LangText(outage_rows::ExportReport), QDir::currentPath(),
                        QStringLiteral("CSV (*.csv);;JSON (*.json);;HTML (*.html *.htm)"));
    dialog->setObjectName(QStringLiteral("SaveDialog_report"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    const int result = ModalSeam::Exec(dialog);
    QString path;
    if (dialog && result == QDialog::Accepted) {
        path = dialog->selectedFiles().value(0);
    }
    delete dialog.data();
    if (path.isEmpty()) {
        return;
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    const ReportFormat format = suffix == QStringLiteral("json")           ? ReportFormat::Json
                                : suffix.startsWith(QStringLiteral("htm")) ? ReportFormat::Html
                                                                           : ReportFormat::Csv;
    const int64_t to = QDateTime::currentMSecsSinceEpoch();
    const TimeRange range{to - rangeMs, to};
    const std::string file = path.toLocal8Bit().toStdString();
    const HistoryService* history = m_history.get();
    QPointer<MainForm> self(this);
    // The history is stopped only after the pool's workers are done.
    QThreadPool::globalInstance()->start([self, history, file, path, format, range] {
        std::string error;
        if (std::unique_ptr<HistoryQuery> query = history->OpenQuery()) {
            const std::string text =
                RenderAvailabilityReport(ReadAvailabilityReport(*query, range), format);
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << text;
            if (!out.flush()) {
                error = "the file cannot be written";
            }
        } else {
            error = "the history file cannot be read";
        }
        QMetaObject::invokeMethod(
            self,
            [self, path, error] {
                if (error.empty()) {
                    self->statusBar()->showMessage(LangText(outage_rows::ReportSaved) +
                                                   QDir::toNativeSeparators(path));
                } else {
                    MessageBox::Information(
                        self, LangText(outage_rows::ReportFailed) + QDir::toNativeSeparators(path) +
                                  QStringLiteral("\n") + QString::fromLocal8Bit(error));
                }
                emit self->reportExported(error.empty());
            },
            Qt::QueuedConnection);
    });
}

void MainForm::scheduleAlarmMarks()
{
    if (m_alarmMonitor == nullptr || std::exchange(m_alarmMarksScheduled, true)) {
        return;
    }
    QMetaObject::invokeMethod(this, &MainForm::updateAlarmMarks, Qt::QueuedConnection);
}

void MainForm::updateAlarmMarks()
{
    m_alarmMarksScheduled = false;
    if (m_alarmMonitor == nullptr) {
        return;
    }
    for (MdiChild* window : ChildrenInTreeOrder()) {
        if (window->Entry() != nullptr) {
            const DeviceKey key = DeviceKeyOfCaption(window->Caption());
            m_tree->SetNodeAlarm(window->Entry()->Node(),
                                 m_alarmMonitor->HasUnacknowledged(key.address));
        }
    }
}

void MainForm::onAlarmsRaised(const std::vector<Alarm>& alarms)
{
    if (m_tray == nullptr || !QSystemTrayIcon::supportsMessages() || alarms.empty()) {
        return;
    }
    // One message for the burst: the latest alarm, and how many came with it.
    const Alarm& alarm = alarms.back();
    QString device = QString::fromLatin1(alarm.address);
    if (!alarm.deviceName.empty()) {
        device += QLatin1Char(' ') + FromGbk(alarm.deviceName);
    }
    if (alarms.size() > 1) {
        device += QStringLiteral(" (+%1)").arg(alarms.size() - 1);
    }
    m_tray->showMessage(LangText(history_row::AlarmRaised) + device, AlarmMonitor::RuleText(alarm),
                        alarm.severity == AlarmSeverity::Information ? QSystemTrayIcon::Information
                                                                     : QSystemTrayIcon::Warning);
}

void MainForm::showAlarmDevice(const QString& address)
{
    for (MdiChild* window : ChildrenInTreeOrder()) {
        if (QString::fromLatin1(DeviceKeyOfCaption(window->Caption()).address) == address) {
            window->ShowHistory();
            return;
        }
    }
}

void MainForm::AlarmRulesClick()
{
    if (m_history == nullptr) {
        return;
    }
    std::vector<std::pair<std::string, QString>> devices;
    for (MdiChild* window : ChildrenInTreeOrder()) {
        const DeviceKey key = DeviceKeyOfCaption(window->Caption());
        devices.emplace_back(key.address, FromGbk(DisplayText(window->Caption())));
    }
    AlarmEngine& engine = m_history->Alarms();
    AlarmRuleStore store;
    store.load = [&engine](const std::string& address) {
        const AlarmRuleBook book = engine.Rules();
        if (address.empty()) {
            return AlarmRuleScope{false, editsOf(book.Global())};
        }
        const std::optional<AlarmRuleSet> own = book.Override(address);
        return AlarmRuleScope{own.has_value(), editsOf(own.value_or(book.Global()))};
    };
    store.save = [&engine](const std::string& address, const AlarmRuleScope& scope) {
        AlarmRuleBook book = engine.Rules();
        if (address.empty()) {
            book.SetGlobal(setOf(scope.rules, book.Global()));
        } else if (scope.overrides) {
            book.SetOverride(address, setOf(scope.rules, book.ForDevice(address)));
        } else {
            book.ClearOverride(address);
        }
        engine.SetRules(std::move(book));
    };
    AlarmRulesDialog dialog(store, devices, this);
    if (MdiChild* active = ActiveChild()) {
        dialog.SelectScope(DeviceKeyOfCaption(active->Caption()).address);
    }
    ModalSeam::Exec(&dialog);
}

} // namespace vireo::ui
