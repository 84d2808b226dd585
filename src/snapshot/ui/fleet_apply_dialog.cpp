#include "snapshot/ui/fleet_apply_dialog.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "link/device_session.h"
#include "snapshot/apply_rows.h"
#include "snapshot/ui/snapshot_apply_dialog.h"
#include "snapshot/ui/snapshot_rows.h"
#include "ui/gbk_text.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

namespace vireo::ui {

namespace {

QString utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The devices' own windows: their sessions, as connected now.
class WindowTargets : public ApplyTargets
{
public:
    explicit WindowTargets(const std::vector<FleetApplyDevice>& devices) : m_devices(devices) {}
    size_t Count() const override { return m_devices.size(); }
    std::string Name(size_t i) const override { return m_devices[i].name.toStdString(); }
    std::optional<DeviceRead> Open(size_t i, std::shared_ptr<ListManager>* database,
                                   std::string* why) override
    {
        DatabaseContent* content = m_devices[i].content;
        if (content == nullptr || !content->Session().linked) {
            *why = "not connected";
            return std::nullopt;
        }
        if (content->DataLoaded()) {
            *database = content->Database();
        }
        return DeviceRead{*content, {}};
    }

private:
    const std::vector<FleetApplyDevice>& m_devices;
};

// Reports to the dialog: the latest text is kept, one call posted at a time.
class Reporter : public FleetApplyListener
{
public:
    explicit Reporter(std::function<void(int, QString)> report) : m_report(std::move(report)) {}
    void OnDevice(size_t i, size_t, const std::string& name) override
    {
        m_device = static_cast<int>(i);
        m_name = utf8(name);
        m_report(m_device, m_name);
    }
    void OnStep(size_t done, size_t total, const std::string& text) override
    {
        m_report(m_device, m_name + QStringLiteral(": [%1/%2] ").arg(done).arg(total) + utf8(text));
    }
    void OnReading() override
    {
        m_report(m_device, m_name + QStringLiteral(": ") + LangText(snapshot_row::Reading));
    }

private:
    std::function<void(int, QString)> m_report;
    int m_device = 0;
    QString m_name;
};

} // namespace

FleetApplyDialog::FleetApplyDialog(std::vector<FleetApplyDevice> devices, QString file,
                                   QWidget* parent)
    : QDialog(parent), m_devices(std::move(devices)), m_file(std::move(file)),
      m_satellites(new QCheckBox(this)), m_transponders(new QCheckBox(this)),
      m_system(new QCheckBox(this)), m_allowLoss(new QCheckBox(this)),
      m_showPlan(new QCheckBox(this)), m_list(new QListWidget(this)), m_status(new QLabel(this)),
      m_progress(new QProgressBar(this))
{
    setObjectName(QStringLiteral("FleetApplyDialog"));
    setWindowTitle(LangText(snapshot_row::ApplyToSelected).remove(QStringLiteral("...")) +
                   QStringLiteral(": ") + QFileInfo(m_file).fileName());
    m_satellites->setText(LangText(snapshot_row::Satellites));
    m_transponders->setText(LangText(snapshot_row::Transponders));
    m_system->setText(LangText(snapshot_row::SystemSettings));
    auto* sectionsRow = new QHBoxLayout;
    for (QCheckBox* box : {m_satellites, m_transponders, m_system}) {
        box->setChecked(true);
        sectionsRow->addWidget(box);
        connect(box, &QCheckBox::toggled, this, &FleetApplyDialog::showPlans);
    }
    sectionsRow->addStretch();
    m_allowLoss->setObjectName(QStringLiteral("FleetApplyAllowProgramLoss"));
    m_allowLoss->setText(LangText(apply_row::AllowLoss));
    m_allowLoss->hide();
    connect(m_allowLoss, &QCheckBox::toggled, this, &FleetApplyDialog::showPlans);
    m_showPlan->setObjectName(QStringLiteral("FleetApplyShowPlan"));
    m_showPlan->setText(LangText(apply_row::ShowPlan));
    connect(m_showPlan, &QCheckBox::toggled, this, &FleetApplyDialog::showPlans);
    m_list->setObjectName(QStringLiteral("FleetApplyList"));
    for (const FleetApplyDevice& d : m_devices) {
        m_list->addItem(d.name);
    }
    m_status->setObjectName(QStringLiteral("FleetApplyStatus"));
    m_status->setWordWrap(true);
    m_status->setText(LangText(snapshot_row::Reading));
    m_progress->setRange(0, static_cast<int>(m_devices.size()));
    m_progress->hide();
    auto* buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(LangText(snapshot_row::kRowApply), QDialogButtonBox::AcceptRole);
    m_apply->setObjectName(QStringLiteral("FleetApplyRun"));
    m_resume = buttons->addButton(LangText(apply_row::Resume), QDialogButtonBox::ActionRole);
    m_resume->setObjectName(QStringLiteral("FleetApplyResume"));
    m_rollBack = buttons->addButton(LangText(apply_row::RollBack), QDialogButtonBox::ActionRole);
    m_rollBack->setObjectName(QStringLiteral("FleetApplyRollBack"));
    m_resume->hide();
    m_rollBack->hide();
    m_close = buttons->addButton(LangText(snapshot_row::Close), QDialogButtonBox::RejectRole);
    m_close->setObjectName(QStringLiteral("FleetApplyClose"));
    connect(m_apply, &QPushButton::clicked, this, &FleetApplyDialog::Start);
    connect(m_resume, &QPushButton::clicked, this, &FleetApplyDialog::Resume);
    connect(m_rollBack, &QPushButton::clicked, this, &FleetApplyDialog::RollBack);
    connect(m_close, &QPushButton::clicked, this, &FleetApplyDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sectionsRow);
    layout->addWidget(m_allowLoss);
    layout->addWidget(m_showPlan);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    resize(720, 480);
    m_apply->setEnabled(false);

    // The snapshot is read on the worker; the plans follow on the UI thread
    // from the devices' databases as their windows hold them.
    QPointer<FleetApplyDialog> self(this);
    const std::string path = m_file.toStdString();
    m_worker = std::thread([this, self, path] {
        std::string error;
        std::optional<Snapshot> wanted = ReadSnapshotFile(path, &error);
        QMetaObject::invokeMethod(
            this,
            [self, wanted = std::move(wanted), error]() mutable {
                if (self) {
                    self->planned(std::move(wanted), error);
                }
            },
            Qt::QueuedConnection);
    });
}

FleetApplyDialog::~FleetApplyDialog()
{
    m_cancel = true;
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

unsigned FleetApplyDialog::sections() const
{
    unsigned sections = 0;
    sections |= m_satellites->isChecked() ? apply_section::Satellites : 0;
    sections |= m_transponders->isChecked() ? apply_section::Transponders : 0;
    sections |= m_system->isChecked() ? apply_section::System : 0;
    return sections;
}

void FleetApplyDialog::planned(std::optional<Snapshot> wanted, std::string error)
{
    if (m_worker.joinable()) {
        m_worker.join();
    }
    if (!wanted) {
        m_status->setText(LangText(snapshot_row::CannotRead) + utf8(error));
        return;
    }
    m_wanted = std::move(wanted);
    showPlans();
}

void FleetApplyDialog::showPlans()
{
    if (!m_wanted || m_running || m_finished) {
        return;
    }
    m_list->clear();
    size_t lost = 0;
    bool work = false;
    for (const FleetApplyDevice& d : m_devices) {
        const std::shared_ptr<ListManager> db =
            d.content != nullptr && d.content->DataLoaded() ? d.content->Database() : nullptr;
        if (!db || sections() == 0) {
            m_list->addItem(d.name + QStringLiteral(": ") + LangText(snapshot_row::NotRead));
            work = work || db == nullptr;
            continue;
        }
        const ApplyPlan plan = PlanApply(*m_wanted, SnapshotOf(*db), sections());
        lost += plan.ProgramsLost();
        work = work || !plan.Empty();
        m_list->addItem(LangText(apply_row::PlanFor) + d.name + QStringLiteral(": ") +
                        (plan.Empty() ? LangText(snapshot_row::NothingToDo)
                                      : PlanSummaryText(plan).replace(QLatin1Char('\n'),
                                                                      QStringLiteral("; "))));
        if (m_showPlan->isChecked()) {
            for (const PlanStep& step : plan.steps) {
                m_list->addItem(QStringLiteral("    ") + PlanStepText(step));
            }
        }
    }
    m_allowLoss->setVisible(lost > 0);
    m_status->setText(LangText(work ? apply_row::ApplyShownPlan : snapshot_row::NothingToDo));
    m_apply->setEnabled(work && sections() != 0 && (lost == 0 || m_allowLoss->isChecked()));
}

void FleetApplyDialog::Start()
{
    if (m_running || m_finished || !m_wanted || !m_apply->isEnabled() || sections() == 0) {
        return;
    }
    m_sections = sections();
    run(m_devices, false);
}

void FleetApplyDialog::Resume()
{
    if (!m_running && m_partly) {
        run({m_devices[*m_partly]}, false);
    }
}

void FleetApplyDialog::RollBack()
{
    if (!m_running && m_partly && !m_originPath.empty()) {
        run({m_devices[*m_partly]}, true);
    }
}

void FleetApplyDialog::run(std::vector<FleetApplyDevice> devices, bool back)
{
    const bool again = m_finished;
    m_running = true;
    m_finished = false;
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_satellites, m_transponders, m_system, m_apply,
                                         m_allowLoss, m_showPlan, m_resume, m_rollBack}) {
        w->setEnabled(false);
    }
    m_progress->setRange(0, static_cast<int>(devices.size()));
    m_progress->setValue(0);
    m_progress->show();
    QPointer<FleetApplyDialog> self(this);
    auto report = [this, self](int device, QString text) {
        bool post = false;
        {
            std::lock_guard lock(m_progressMutex);
            m_deviceIndex = device;
            m_latest = std::move(text);
            post = !m_posted;
            m_posted = true;
        }
        if (post) {
            QMetaObject::invokeMethod(
                this,
                [self] {
                    if (self) {
                        self->showProgress();
                    }
                },
                Qt::QueuedConnection);
        }
    };
    ApplyRunOptions options;
    options.allowProgramLoss = m_allowLoss->isChecked();
    options.recordFolder = "Applies";
    const std::string originPath = again ? m_originPath : std::string();
    m_worker = std::thread(
        [this, self, devices = std::move(devices), report, options, back, originPath]() mutable {
            std::string error;
            FleetApplyResult result;
            std::optional<Snapshot> origin;
            std::error_code ignored;
            std::filesystem::create_directories(options.recordFolder, ignored);
            if (!originPath.empty()) {
                origin = ReadSnapshotFile(originPath, &error);
                options.origin = origin ? &*origin : nullptr;
                options.originPath = originPath;
            }
            if (originPath.empty() || origin) {
                WindowTargets targets(devices);
                Reporter reporter(report);
                result = ApplyToDevices(back ? *origin : *m_wanted, m_sections, targets, {},
                                        &reporter, &m_cancel, options);
            }
            QMetaObject::invokeMethod(
                this,
                [self, result = std::move(result), error]() mutable {
                    if (self) {
                        self->finish(std::move(result), error);
                    }
                },
                Qt::QueuedConnection);
        });
}

void FleetApplyDialog::showProgress()
{
    QString text;
    int device = 0;
    {
        std::lock_guard lock(m_progressMutex);
        text = m_latest;
        device = m_deviceIndex;
        m_posted = false;
    }
    if (!m_finished) {
        m_progress->setValue(device);
        m_status->setText(text);
    }
}

void FleetApplyDialog::finish(FleetApplyResult result, std::string error)
{
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_running = false;
    m_finished = true;
    const bool again = m_partly.has_value();
    m_result = std::move(result);
    // Devices that match count as done; the bar never runs past them.
    size_t matched = 0;
    for (const FleetApplyResult::Device& d : m_result.devices) {
        matched += d.Ok() ? 1 : 0;
    }
    m_progress->setValue(static_cast<int>(matched));
    m_list->clear();
    if (!error.empty()) {
        m_status->setText(LangText(snapshot_row::CannotRead) + utf8(error));
        return;
    }
    std::optional<size_t> partly;
    for (size_t i = 0; i < m_result.devices.size(); ++i) {
        const FleetApplyResult::Device& d = m_result.devices[i];
        QString line = utf8(d.name) + QStringLiteral(": ");
        if (!d.unreachable.empty()) {
            line += LangText(snapshot_row::Cannot) + utf8(d.unreachable);
        } else if (d.result.matches) {
            line += LangText(snapshot_row::Matches);
        } else if (!d.result.stopped.empty()) {
            line += StopText(d.result);
            if (d.result.PartlyApplied()) {
                line += QStringLiteral(" ") + LangText(apply_row::PartlyApplied)
                                                  .arg(d.result.doneSteps.size())
                                                  .arg(d.result.leftSteps.size());
                partly = i;
            }
        } else {
            line += LangText(snapshot_row::StillDiffers);
        }
        m_list->addItem(line);
        if (!d.result.beforeStatePath.empty()) {
            m_list->addItem(QStringLiteral("    ") + LangText(apply_row::StateSaved) +
                            utf8(d.result.beforeStatePath));
        }
    }
    if (!again) {
        for (size_t i = m_result.devices.size(); i < m_devices.size(); ++i) {
            m_list->addItem(m_devices[i].name + QStringLiteral(": -"));
        }
    }
    if (partly) {
        // A resume or roll back names the one device: keep its place in the
        // whole list, and the state saved before its first run.
        if (!again) {
            m_partly = partly;
            m_originPath = m_result.devices[*partly].result.beforeStatePath;
        }
    } else {
        m_partly.reset();
    }
    m_resume->setVisible(m_partly.has_value());
    m_rollBack->setVisible(m_partly.has_value() && !m_originPath.empty());
    m_resume->setEnabled(true);
    m_rollBack->setEnabled(true);
    m_status->setText(m_result.AllMatch() ? LangText(snapshot_row::Matches)
                                          : LangText(snapshot_row::StillDiffers));
}

void FleetApplyDialog::reject()
{
    if (m_running) {
        m_cancel = true;
        return;
    }
    QDialog::reject();
}

} // namespace vireo::ui
