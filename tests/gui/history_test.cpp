// The signal history and alarms as an operator meets them: a scripted IRD
// loses lock, the window's history shows the outage, the alarm is raised,
// acknowledged and cleared, and the machine tree's mark follows it.

#include "app/ui/machine_tree_view.h"
#include "gui_fixture.h"
#include "history/history_database.h"
#include "history/silence_store.h"
#include "history/ui/alarm_monitor.h"
#include "history/ui/alarm_rules_dialog.h"
#include "history/ui/alarms_dock.h"
#include "history/ui/history_format.h"
#include "history/ui/history_link.h"
#include "history/ui/signal_chart.h"
#include "history/ui/signal_history_tab.h"
#include "lang/language_table.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/gbk_text.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

constexpr const char* kAddress = "127.0.153.1";

QString logText(MdiChild* window)
{
    return window->findChild<QPlainTextEdit*>(QStringLiteral("Memo_log"))->toPlainText();
}

std::optional<Alarm> alarmOf(MainForm& form, AlarmRuleKind rule)
{
    for (const Alarm& alarm : form.History()->Alarms().Recent()) {
        if (alarm.rule == rule && alarm.address == kAddress) {
            return alarm;
        }
    }
    return std::nullopt;
}

// Screenshots for a person to look at, when VIREO_SHOTS names a folder.
void shoot(QWidget* widget, const char* name)
{
    const QString folder = qEnvironmentVariable("VIREO_SHOTS");
    if (!folder.isEmpty()) {
        widget->grab().save(folder + QLatin1Char('/') + QLatin1String(name));
    }
}

} // namespace

class HistoryTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<WorkDir>(); }
    void cleanup() { m_dir.reset(); }

    void anOutageIsRecordedShownAlarmedAndAcknowledged()
    {
        // Locked for 3 s, then 12 s without lock, then locked for good.
        sim::SimulatorOptions simOptions = sim::QuietOptions();
        simOptions.signalScript.steps = {
            {3, {82, 74, true}}, {12, {9, 3, false}}, {3600, {82, 74, true}}};
        sim::Simulator ird(sim::GenerateDatabase({2, 6, 10, 4}, nullptr).value(), simOptions);
        QVERIFY(ird.Start(kAddress, 8888));

        auto form = startMainForm();
        QVERIFY(form);
        QVERIFY(form->History() != nullptr && form->History()->Ok());
        // Quicker rules than the defaults, set as the operator would: raised
        // after 2 s, cleared 1 s after.
        ModalSeam::setNextAction([](QDialog* d) {
            auto* dialog = static_cast<AlarmRulesDialog*>(d);
            auto spin = [dialog](int column) {
                return qobject_cast<QSpinBox*>(dialog->Table()->cellWidget(0, column));
            };
            spin(AlarmRulesDialog::HoldColumn)->setValue(2);
            spin(AlarmRulesDialog::ClearColumn)->setValue(1);
            return clickButton(d, "Btn_ok");
        });
        form->findChild<QAction*>(QStringLiteral("menu_alarmRules"))->trigger();
        const AlarmRule unlocked =
            form->History()->Alarms().Rules().Global().Rule(AlarmRuleKind::Unlocked);
        QCOMPARE(unlocked.raiseAfterS, 2);
        QCOMPARE(unlocked.clearAfterS, 1);

        MdiChild* window = form->OpenDeviceWindow(kAddress, "Scripted");
        QVERIFY(window);
        form->ConnectMachine(window);
        window->ShowHistory();
        SignalHistoryTab* tab = window->HistoryTab();
        QCOMPARE(window->Tabs()->currentWidget(), tab);
        const NodeId node = window->Entry()->Node();

        // Raised: in the dock, in the device's log, as a mark on its node.
        QTRY_VERIFY_WITH_TIMEOUT(alarmOf(*form, AlarmRuleKind::Unlocked).has_value(), 30000);
        const Alarm raised = *alarmOf(*form, AlarmRuleKind::Unlocked);
        QVERIFY(raised.Active());
        QTRY_VERIFY(form->MachineTree()->NodeAlarm(node));
        QTRY_VERIFY(
            logText(window).contains(FromGbk(AlarmEngine::LogLine(raised, true)).trimmed()));
        AlarmsDock* dock = form->AlarmsWindow();
        dock->show();
        QTRY_COMPARE(dock->List()->topLevelItemCount(), 1);
        QVERIFY(!dock->AcknowledgeButton()->isEnabled());
        shoot(form.get(), "history-alarm-raised.png");

        // Acknowledged from the dock: the mark goes while the alarm stays.
        dock->SelectAlarms({raised.id});
        QVERIFY(dock->AcknowledgeButton()->isEnabled());
        dock->AcknowledgeButton()->click();
        QTRY_VERIFY(!form->MachineTree()->NodeAlarm(node));
        const Alarm acknowledged = *alarmOf(*form, AlarmRuleKind::Unlocked);
        QCOMPARE(acknowledged.acknowledgedBy, MainForm::OperatorName());
        QVERIFY(acknowledged.Active());
        QVERIFY(!dock->List()->topLevelItem(0)->text(AlarmsDock::AcknowledgedColumn).isEmpty());

        // In maintenance from the dock: a reason is required, and the
        // silence reaches the history file the monitors read.
        QVERIFY(dock->MaintenanceButton()->isEnabled());
        ModalSeam::setNextAction([](QDialog* d) {
            auto* ok = d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            const bool wantedReason = !ok->isEnabled();
            d->findChild<QSpinBox*>(QStringLiteral("Spin_maintenanceHours"))->setValue(2);
            d->findChild<QLineEdit*>(QStringLiteral("Edit_maintenanceReason"))
                ->setText(QStringLiteral("LNB swap"));
            return wantedReason && ok->isEnabled() ? QDialog::Accepted : QDialog::Rejected;
        });
        dock->MaintenanceButton()->click();
        QTRY_VERIFY([&] {
            auto db = HistoryDatabase::Open(form->History()->File(), false).database;
            const auto silences = SilenceStore::Running(*db, QDateTime::currentMSecsSinceEpoch());
            return silences.size() == 1 && silences[0].target == kAddress &&
                   silences[0].reason == "LNB swap" &&
                   silences[0].untilMs - silences[0].createdMs == 2 * 3600 * 1000;
        }());

        // Cleared once the lock is back, with its line in the log.
        QTRY_VERIFY_WITH_TIMEOUT(!alarmOf(*form, AlarmRuleKind::Unlocked)->Active(), 30000);
        const Alarm cleared = *alarmOf(*form, AlarmRuleKind::Unlocked);
        QTRY_VERIFY(
            logText(window).contains(FromGbk(AlarmEngine::LogLine(cleared, false)).trimmed()));
        QVERIFY(!form->MachineTree()->NodeAlarm(node));

        // The history: one closed outage of about 12 s, shaded, listed, and
        // an availability below 100 %.
        const auto outageShown = [tab] {
            const auto& outages = tab->Shown().outages;
            return outages.size() == 1 && !outages.front().open;
        };
        QTRY_VERIFY_WITH_TIMEOUT(outageShown(), 15000);
        const OutagePeriod outage = tab->Shown().outages.front();
        const int64_t lengthMs = outage.endMs - outage.startMs;
        QVERIFY2(lengthMs > 7000 && lengthMs < 18000, qPrintable(QString::number(lengthMs)));
        QCOMPARE(outage.kind, OutagePeriod::Kind::Unlocked);
        QVERIFY(tab->Shown().availability > 0.2 && tab->Shown().availability < 0.95);
        QCOMPARE(tab->Chart()->ShadedCount(OutagePeriod::Kind::Unlocked), 1);
        QVERIFY(tab->Chart()->PointCount() >= 3); // the signal is polled every 4 s
        QCOMPARE(tab->OutageTable()->rowCount(), 1);
        QVERIFY(tab->AvailabilityLabel()->text().contains(QLatin1Char('%')));
        shoot(window, "history-tab.png");

        // The range exported through the save dialog: a header, then reports.
        const QString csv = m_dir->path() + QStringLiteral("/range.csv");
        ModalSeam::setNextAction([csv](QDialog* d) {
            static_cast<QFileDialog*>(d)->selectFile(csv);
            return int(QDialog::Accepted);
        });
        QSignalSpy exported(tab, &SignalHistoryTab::exportFinished);
        tab->findChild<QPushButton*>(QStringLiteral("Btn_export"))->click();
        QVERIFY(exported.wait(10000));
        QCOMPARE(exported.first().first().toBool(), true);
        QVERIFY(WorkDir::read(csv).count('\n') >= 4);

        // The availability report from the alarms window: a line for the device.
        const QString report = m_dir->path() + QStringLiteral("/report.csv");
        ModalSeam::setNextAction([report](QDialog* d) {
            static_cast<QFileDialog*>(d)->selectFile(report);
            return int(QDialog::Accepted);
        });
        QSignalSpy reported(form.get(), &MainForm::reportExported);
        dock->ExportReportButton()->click();
        QVERIFY(reported.wait(10000));
        QCOMPARE(reported.first().first().toBool(), true);
        const auto reportText = WorkDir::read(report);
        QVERIFY(reportText.startsWith("address,name,availability %,"));
        QVERIFY(reportText.contains(QByteArray(kAddress) + ",Scripted,"));

        // A double-click on the alarm brings its device's history forward.
        window->Tabs()->setCurrentIndex(0);
        emit dock->List()->itemDoubleClicked(dock->List()->topLevelItem(0), 0);
        QCOMPARE(window->Tabs()->currentWidget(), tab);

        // The longest range reads the same outage back.
        tab->SetRangeIndex(4);
        QTRY_COMPARE(tab->Shown().toMs - tab->Shown().fromMs, SignalHistoryTab::kRangesMs[4]);
        QTRY_COMPARE(tab->OutageTable()->rowCount(), 1);
    }

    void theSnapshotTellsLinkLossFromLossOfLock()
    {
        // Two outages: the first only unlocked, the second overlapping a
        // time without a link. A bucket is drawn at its middle.
        const std::vector<Period> unlocked{{PeriodKind::Unlocked, 1000, 2000, false}};
        const std::vector<Period> disconnected{{PeriodKind::LinkLost, 5000, 6000, false}};
        const std::vector<Outage> outages{{1000, 2000, false}, {4500, 6000, true}};
        const HistorySnapshot snapshot =
            SnapshotOf({{10000, 2000, 3, 1, 50.0, 90, 2, 40.0, 70, 0.25}}, unlocked, disconnected,
                       outages, Availability{4000, 3000});
        QCOMPARE(snapshot.samples.size(), size_t(1));
        QCOMPARE(snapshot.samples[0].timeMs, int64_t(11000));
        QVERIFY(!snapshot.samples[0].locked);
        QCOMPARE(snapshot.shaded.size(), size_t(2));
        QCOMPARE(snapshot.outages.at(0).kind, OutagePeriod::Kind::Unlocked);
        QCOMPARE(snapshot.outages.at(1).kind, OutagePeriod::Kind::Disconnected);
        QVERIFY(snapshot.outages.at(1).open);
        QCOMPARE(snapshot.availability, 0.75);
        // Never connected in the range: no availability to show, not 0 %.
        QCOMPARE(SnapshotOf({}, {}, {}, {}, Availability{}).availability, -1.0);
    }

    void theChartBreaksAcrossOutagesShowsTheBandAndSpansTheRange()
    {
        // Reports every 10 s over a minute of a 70 s range, lock lost
        // from 25 to 35 s (the report at 30 s stands alone); the 40 s bucket
        // dipped to 5 % inside.
        HistorySnapshot snapshot;
        snapshot.fromMs = 0;
        snapshot.toMs = 70000;
        for (int64_t t = 0; t <= 60000; t += 10000) {
            const double low = t == 40000 ? 5 : 60;
            snapshot.samples.push_back({t, 70, 60, true, 65, 75, low, 62});
        }
        snapshot.shaded.push_back({25000, 35000, OutagePeriod::Kind::Unlocked, false});
        SignalChart chart;
        chart.resize(600, 300);
        chart.ShowSnapshot(snapshot, 60000);
        shoot(&chart, "history-chart-band.png");
        QCOMPARE(chart.RunCount(), 3);
        QCOMPARE(chart.PointCount(), 7);
        auto* axis = qobject_cast<QDateTimeAxis*>(chart.chart()->axes(Qt::Horizontal).value(0));
        QVERIFY(axis);
        QCOMPARE(axis->min().toMSecsSinceEpoch(), snapshot.fromMs);
        QCOMPARE(axis->max().toMSecsSinceEpoch(), snapshot.toMs);
        // The band's upper edge holds each bucket's highest, and drops to
        // nothing across the break.
        const QList<QPointF> upper = chart.IntensityBandUpper();
        QVERIFY(upper.contains(QPointF(0, 75)));
        QVERIFY(upper.contains(QPointF(20000, 0)) && upper.contains(QPointF(30000, 0)));
        // An open outage from 50 s reaches now: no line after it.
        snapshot.shaded = {{50000, 50000, OutagePeriod::Kind::Disconnected, true}};
        chart.ShowSnapshot(snapshot, 70000);
        QCOMPARE(chart.RunCount(), 2);
        // Past the cap of runs, only the widest gaps break the line.
        snapshot.samples.clear();
        snapshot.shaded.clear();
        for (int64_t i = 0; i < 1000; ++i) {
            snapshot.samples.push_back(
                {i * 1000 + (i > 500 ? 5000 : 0), 50, 50, true, 50, 50, 50, 50});
            snapshot.shaded.push_back(
                {i * 1000 + 400, i * 1000 + 500, OutagePeriod::Kind::Unlocked, false});
        }
        chart.ShowSnapshot(snapshot, 0);
        QVERIFY(chart.RunCount() > 1 && chart.RunCount() <= 120);
        QCOMPARE(chart.PointCount(), 1000);
    }

    void aPausedHistoryIsToldInWords()
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
        HistoryStatus status;
        QCOMPARE(HistoryStatusText(status, 0), QString());
        status.paused = true;
        status.reason = "disk full";
        const int64_t since = QDateTime(QDate(2026, 12, 9), QTime(14, 2)).toMSecsSinceEpoch();
        status.pausedSinceMs = since;
        status.samplesDropped = 3480;
        QCOMPARE(
            HistoryStatusText(status, since + 60000),
            QStringLiteral("History paused: disk full since 14:02, 3,480 samples not recorded"));
        status.pendingRecords = 1234567;
        QVERIFY(HistoryStatusText(status, since + 2 * 86400000LL)
                    .endsWith(QStringLiteral("since 2026-12-09 14:02, 3,480 samples not recorded, "
                                             "1,234,567 records waiting for the disk")));
    }

    void aDamagedHistoryIsMovedAsideAndTheOperatorTold()
    {
        WorkDir::write(QStringLiteral("History.sqlite"), QByteArray(8192, 'x'));
        auto form = startMainForm({}, false);
        QVERIFY(form && form->History()->Ok());
        QVERIFY(!form->History()->MovedAside().empty());
        const QStringList shown = MessageBox::shownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().contains(
            QString::fromStdString(form->History()->MovedAside().filename().string())));
    }

    void theRulesDialogKeepsEditsPerScopeAndSavesThemTogether()
    {
        std::map<std::string, AlarmRuleScope> stored;
        const AlarmRuleScope defaults{false,
                                      {{1, QStringLiteral("a"), true, false, 0, true, 5, 3},
                                       {2, QStringLiteral("b"), true, true, 30, true, 10, 3}}};
        AlarmRuleStore store;
        store.load = [&](const std::string& device) {
            auto it = stored.find(device);
            return it != stored.end() ? it->second : defaults;
        };
        store.save = [&](const std::string& device, const AlarmRuleScope& scope) {
            stored[device] = scope;
        };
        AlarmRulesDialog dialog(store, {{"10.0.0.1", QStringLiteral("10.0.0.1:A")}});
        auto spin = [&](int row, int column) {
            return qobject_cast<QSpinBox*>(dialog.Table()->cellWidget(row, column));
        };
        QVERIFY(!dialog.OverrideBox()->isVisibleTo(&dialog));
        spin(1, AlarmRulesDialog::ThresholdColumn)->setValue(25);
        dialog.SelectScope("10.0.0.1");
        QVERIFY(dialog.OverrideBox()->isVisibleTo(&dialog));
        QVERIFY(!dialog.Table()->isEnabled()); // follows the defaults until overridden
        dialog.OverrideBox()->setChecked(true);
        spin(0, AlarmRulesDialog::HoldColumn)->setValue(8);
        dialog.SelectScope("");
        QCOMPARE(spin(1, AlarmRulesDialog::ThresholdColumn)->value(), 25); // kept, not reloaded
        QVERIFY(stored.empty());                                           // nothing saved yet
        dialog.SaveEdits();
        QCOMPARE(stored.at("").rules.at(1).threshold, 25);
        QVERIFY(stored.at("10.0.0.1").overrides);
        QCOMPARE(stored.at("10.0.0.1").rules.at(0).holdSeconds, 8);
    }

private:
    std::unique_ptr<WorkDir> m_dir;
};

QTEST_MAIN(HistoryTest)
#include "history_test.moc"
