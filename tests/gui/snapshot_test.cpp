// The device window's snapshot commands on a simulated IRD: save what the
// device holds, compare it with another device's snapshot (a tree of the
// differences), apply that snapshot and find the device matching it.

#include "device/ui/mdi_child.h"
#include "fleet/ui/fleet_window.h"
#include "gui_fixture.h"
#include "lang/language_table.h"
#include "link/message_code.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "sim/simulator.h"
#include "snapshot/snapshot.h"
#include "snapshot/snapshot_diff.h"
#include "snapshot/ui/fleet_apply_dialog.h"
#include "snapshot/ui/snapshot_apply_dialog.h"
#include "snapshot/ui/snapshot_commands.h"
#include "snapshot/ui/snapshot_diff_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

const QString kShots = QStringLiteral("/work/shots/snapshot/");

// The next file dialog selects `file` and is accepted.
void selectNextFile(const QString& file)
{
    ModalSeam::setNextAction([file](QDialog* d) {
        auto* dialog = qobject_cast<QFileDialog*>(d);
        if (dialog == nullptr) {
            return int(QDialog::Rejected);
        }
        dialog->selectFile(file);
        return int(QDialog::Accepted);
    });
}

void shoot(QWidget* widget, const char* name)
{
    if (QDir(kShots).exists()) {
        widget->grab().save(kShots + QLatin1String(name));
    }
}

} // namespace

class SnapshotTest : public QObject
{
    Q_OBJECT

private slots:
    void saveCompareAndApplyFromTheDeviceWindow()
    {
        WorkDir dir;
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
        sim::Simulator irb(sim::GenerateDatabase({4, 20, 10, 5}, nullptr).value(),
                           sim::QuietOptions());
        QVERIFY(irb.Start("127.0.180.41", 0));
        DeviceOptions options;
        options.port = irb.Port();
        options.timing = LinkTiming{std::chrono::microseconds(200)};
        auto form = startMainForm(options);
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.180.41", "Studio");
        QVERIFY(window != nullptr);
        window->ConnectMachine();
        QVERIFY(QTest::qWaitFor([&] { return window->DataLoaded(); }, 10000));
        SnapshotCommands* commands = window->Snapshots();
        QVERIFY(commands != nullptr);
        QVERIFY(window->systemMenu()->actions().contains(commands->ApplyAction()));
        // And in sight on the window itself, in its language.
        auto* button = window->findChild<QToolButton*>(QStringLiteral("SnapshotButton"));
        QVERIFY(button != nullptr && button->isVisible() && button->menu() != nullptr);
        QCOMPARE(button->menu()->actions(),
                 (QList<QAction*>{commands->SaveAction(), commands->CompareAction(),
                                  commands->ApplyAction()}));
        QCOMPARE(button->text(), QStringLiteral("Snapshot"));

        // Save: the document is the device's database with its head.
        selectNextFile(dir.path() + QStringLiteral("/mine.json"));
        commands->SaveAction()->trigger();
        QTRY_VERIFY(
            MessageBox::shownTexts().join(QString()).contains(QStringLiteral("Snapshot saved: ")));
        const std::optional<Snapshot> mine =
            ReadSnapshotFile((dir.path() + QStringLiteral("/mine.json")).toStdString(), nullptr);
        QVERIFY(mine.has_value());
        QCOMPARE(mine->address, std::string("127.0.180.41"));
        QCOMPARE(mine->deviceName, std::string("Studio"));
        QVERIFY(
            DiffSnapshots(*mine, ReadSnapshot(sim::DatabaseToJson(irb.Database()), nullptr).value())
                .Empty());

        // Another device's snapshot: compare shows the differences as a tree.
        const sim::DeviceDatabase other = sim::GenerateDatabase({6, 30, 10, 5}, nullptr).value();
        WorkDir::write(QStringLiteral("other.json"),
                       QByteArray::fromStdString(sim::DatabaseToJson(other)));
        selectNextFile(dir.path() + QStringLiteral("/other.json"));
        int sections = -1;
        ModalSeam::setNextAction([&](QDialog* d) {
            auto* tree = d->findChild<QTreeWidget*>(QStringLiteral("SnapshotDiffTree"));
            d->show();
            shoot(d, "compare-dialog.png");
            sections = tree != nullptr ? tree->topLevelItemCount() : 0;
            return int(QDialog::Rejected);
        });
        commands->CompareAction()->trigger();
        QTRY_VERIFY(sections >= 0);
        QVERIFY(sections >= 2); // satellites, transponders, programs...

        // Apply it: the summary, the run cut off after its third write (the
        // bar stops there, the reason shows once), then Resume.
        sim::FaultOptions cut;
        cut.writeFault = sim::FaultOptions::WriteFault::Drop;
        cut.faultAtWrite = 3;
        irb.SetFaults(cut);
        selectNextFile(dir.path() + QStringLiteral("/other.json"));
        int planned = -1;
        bool matched = false, stoppedHonestly = false, lossGuarded = false;
        ModalSeam::setNextAction([&](QDialog* d) {
            auto* dialog = qobject_cast<SnapshotApplyDialog*>(d);
            if (dialog == nullptr) {
                return int(QDialog::Rejected);
            }
            d->show();
            planned = d->findChild<QListWidget*>(QStringLiteral("ApplyPlanList"))->count();
            auto* allow = d->findChild<QCheckBox*>(QStringLiteral("ApplyAllowProgramLoss"));
            auto* run = d->findChild<QPushButton*>(QStringLiteral("ApplyRun"));
            lossGuarded = !allow->isVisible() || !run->isEnabled();
            if (allow->isVisible()) {
                allow->setChecked(true);
            }
            lossGuarded = lossGuarded &&
                          !d->findChild<QLabel*>(QStringLiteral("ApplySummary"))->text().isEmpty();
            shoot(d, "apply-plan.png");
            clickButton(d, "ApplyRun");
            QTest::qWaitFor([&] { return dialog->Finished(); }, 30000);
            shoot(d, "apply-cut-off.png");
            auto* bar = d->findChild<QProgressBar*>(QStringLiteral("ApplyProgress"));
            const QString status = d->findChild<QLabel*>(QStringLiteral("ApplyStatus"))->text();
            stoppedHonestly =
                dialog->Result().PartlyApplied() && bar->value() == 2 &&
                bar->value() < bar->maximum() && status.count(QStringLiteral("lost")) == 1 &&
                d->findChild<QPushButton*>(QStringLiteral("ApplyResume"))->isVisible();
            clickButton(d, "ApplyResume");
            QTest::qWaitFor([&] { return dialog->Finished(); }, 30000);
            shoot(d, "apply-result.png");
            matched = dialog->Result().matches;
            return int(QDialog::Rejected);
        });
        commands->ApplyAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(planned >= 0 && (matched || planned == 0), 60000);
        QVERIFY(planned > 0);
        QVERIFY(lossGuarded);
        QVERIFY(stoppedHonestly);
        QVERIFY(!QDir(dir.path() + QStringLiteral("/Applies")).entryList({"*.journal"}).isEmpty());

        DiffOptions chosen;
        chosen.sections =
            diff_section::Satellites | diff_section::Transponders | diff_section::System;
        chosen.appliedSystemOnly = true;
        QVERIFY(DiffSnapshots(ReadSnapshot(sim::DatabaseToJson(other), nullptr).value(),
                              ReadSnapshot(sim::DatabaseToJson(irb.Database()), nullptr).value(),
                              chosen)
                    .Empty());

        // From the fleet window: a third snapshot onto the selected devices.
        const sim::DeviceDatabase third = sim::GenerateDatabase({3, 12, 10, 5}, nullptr).value();
        WorkDir::write(QStringLiteral("third.json"),
                       QByteArray::fromStdString(sim::DatabaseToJson(third)));
        form->ShowFleet();
        QTRY_VERIFY(form->FleetView()->Table()->model()->rowCount() > 0);
        form->FleetView()->Table()->selectAll();
        QAction* fleetApply =
            form->FleetView()->findChild<QAction*>(QStringLiteral("FleetApplySnapshot"));
        if (fleetApply == nullptr) {
            fleetApply = form->findChild<QAction*>(QStringLiteral("FleetApplySnapshot"));
        }
        QVERIFY(fleetApply != nullptr && fleetApply->isEnabled());
        selectNextFile(dir.path() + QStringLiteral("/third.json"));
        size_t writes = 0;
        for (const auto& f : irb.ReceivedFrames()) {
            writes += f[1] == msg::AddSatellite || f[1] == msg::SetSatellite ||
                              f[1] == msg::DeleteSatellite || f[1] == msg::AddTp ||
                              f[1] == msg::ModifyTp || f[1] == msg::DeleteTp ||
                              f[1] == msg::SetSystemInfo
                          ? 1
                          : 0;
        }
        cut.faultAtWrite = static_cast<unsigned>(writes + 2);
        irb.SetFaults(cut);
        bool fleetDone = false, allMatch = false, fleetResumed = false;
        ModalSeam::setNextAction([&](QDialog* d) {
            auto* dialog = qobject_cast<FleetApplyDialog*>(d);
            if (dialog == nullptr) {
                return int(QDialog::Rejected);
            }
            d->show();
            QTest::qWaitFor([&] { return dialog->Planned(); }, 10000);
            auto* allow = d->findChild<QCheckBox*>(QStringLiteral("FleetApplyAllowProgramLoss"));
            if (allow->isVisible()) {
                allow->setChecked(true);
            }
            shoot(d, "fleet-apply-plan.png");
            clickButton(d, "FleetApplyRun");
            QTest::qWaitFor([&] { return dialog->Finished(); }, 30000);
            // Cut off part way: the device is offered to finish.
            fleetResumed =
                d->findChild<QPushButton*>(QStringLiteral("FleetApplyResume"))->isVisible();
            clickButton(d, "FleetApplyResume");
            QTest::qWaitFor([&] { return dialog->Finished(); }, 30000);
            shoot(d, "fleet-apply-result.png");
            allMatch = dialog->Result().AllMatch();
            fleetDone = true;
            return int(QDialog::Rejected);
        });
        fleetApply->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(fleetDone, 70000);
        QVERIFY(fleetResumed);
        QVERIFY(allMatch);
        QVERIFY(DiffSnapshots(ReadSnapshot(sim::DatabaseToJson(third), nullptr).value(),
                              ReadSnapshot(sim::DatabaseToJson(irb.Database()), nullptr).value(),
                              chosen)
                    .Empty());
        form.reset();
    }

    // Every way a run stops and the settings a plan changes read in Chinese,
    // without an English word of their own.
    void rareStopsAndSettingsInChinese()
    {
        SetLanguageFlag(0);
        BuildLanguageTable();
        PlanStep system;
        system.code = msg::SetSystemInfo;
        system.fields = {{"polling_interval", "5", "10"}, {"ts_output", "Original", "Off"}};
        PlanStep lossy;
        lossy.code = msg::DeleteTp;
        lossy.programsLost = 3;
        const auto english = QRegularExpression(QStringLiteral("[a-z]{4,}"));
        for (const ApplyResult::Stop stop :
             {ApplyResult::Stop::NotKept, ApplyResult::Stop::ReadFailed,
              ApplyResult::Stop::NoSatellite, ApplyResult::Stop::LossNotAllowed,
              ApplyResult::Stop::JournalFailed}) {
            ApplyResult r;
            r.stop = stop;
            r.stopped = "in English";
            r.leftSteps = {lossy};
            const QString text = StopText(r);
            QVERIFY2(!text.isEmpty() && !text.contains(english), qPrintable(text));
        }
        ApplyResult loss;
        loss.stop = ApplyResult::Stop::LossNotAllowed;
        loss.leftSteps = {lossy, lossy};
        QVERIFY(StopText(loss).contains(QStringLiteral("6")));
        const QString step = PlanStepText(system);
        QVERIFY2(!step.contains(QStringLiteral("polling")) && !step.contains(QStringLiteral("ts_")),
                 qPrintable(step));
        QVERIFY(step.contains(QStringLiteral("5 -> 10")));
        SnapshotDiff left;
        left.entries.push_back({"system",
                                DiffEntry::Change::Changed,
                                "settings",
                                "",
                                {{"screen_ratio", "4:3", "16:9"}}});
        const QString lines = DiffLines(left).join(QLatin1Char('\n'));
        QVERIFY2(!lines.contains(english) && lines.contains(QStringLiteral("4:3 -> 16:9")),
                 qPrintable(lines));
        SetLanguageFlag(1);
        BuildLanguageTable();
    }
};

QTEST_MAIN(SnapshotTest)
#include "snapshot_test.moc"
