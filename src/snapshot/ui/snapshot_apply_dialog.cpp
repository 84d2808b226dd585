#include "snapshot/ui/snapshot_apply_dialog.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "link/message_code.h"
#include "snapshot/apply_rows.h"
#include "snapshot/ui/snapshot_diff_dialog.h"
#include "snapshot/ui/snapshot_rows.h"
#include "ui/gbk_text.h"

#include <QCheckBox>
#include <QDialogButtonBox>
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

// Reports the run's steps to the dialog: the latest step is kept and one
// call at a time is posted to the UI thread.
class DialogListener : public ApplyListener
{
public:
    DialogListener(std::function<void(size_t, size_t, QString)> report)
        : m_report(std::move(report))
    {}
    void OnStep(size_t done, size_t total, const std::string& text) override
    {
        m_report(done, total, utf8(text));
    }
    void OnReading() override { m_report(0, 0, LangText(snapshot_row::Reading)); }

private:
    std::function<void(size_t, size_t, QString)> m_report;
};

} // namespace

QString SystemFieldText(const std::string& field)
{
    static const std::pair<const char*, int> rows[] = {
        {"polling_interval", apply_row::FieldPollingInterval},
        {"screen_ratio", apply_row::FieldScreenRatio},
        {"menu_language", apply_row::FieldMenuLanguage},
        {"output_type", apply_row::FieldOutputType},
        {"ts_output", apply_row::FieldTsOutput},
        {"ts_length", apply_row::FieldTsLength}};
    for (const auto& [key, row] : rows) {
        if (field == key) {
            return LangText(row);
        }
    }
    return utf8(field);
}

QString PlanStepText(const PlanStep& step)
{
    int row = -1;
    switch (step.code) {
    case msg::DeleteTp:
        row = snapshot_row::kRowDeleteTp;
        break;
    case msg::DeleteSatellite:
        row = snapshot_row::kRowDeleteSatellite;
        break;
    case msg::SetSatellite:
        row = snapshot_row::kRowLnbSet;
        break;
    case msg::ModifyTp:
        row = snapshot_row::kRowModifyTp;
        break;
    case msg::AddSatellite:
        row = snapshot_row::kRowAddSatellite;
        break;
    case msg::AddTp:
        row = snapshot_row::kRowAddTp;
        break;
    case msg::SetSystemInfo:
        row = snapshot_row::SetSystem;
        break;
    default:
        return utf8(step.text);
    }
    QString subject = utf8(step.subject);
    if (!step.fields.empty()) {
        QStringList changes;
        for (const FieldDiff& f : step.fields) {
            changes << SystemFieldText(f.field) + QStringLiteral(" ") + utf8(f.a) +
                           QStringLiteral(" -> ") + utf8(f.b);
        }
        subject = changes.join(QStringLiteral(", "));
    }
    QString text = LangText(row) + QStringLiteral(": ") + subject;
    if (step.programsLost > 0) {
        text +=
            QStringLiteral(" \u2014 ") + LangText(apply_row::ProgramsLost).arg(step.programsLost);
    }
    return text;
}

QString PlanSummaryText(const ApplyPlan& plan)
{
    const PlanSummary s = plan.Summary();
    QStringList lines;
    lines << LangText(apply_row::SatellitesCounted)
                 .arg(s.satellitesAdded)
                 .arg(s.satellitesChanged)
                 .arg(s.satellitesDeleted);
    lines << LangText(apply_row::TpsCounted).arg(s.tpsAdded).arg(s.tpsChanged).arg(s.tpsDeleted);
    if (s.settingsChanged) {
        lines << LangText(apply_row::SettingsChanged);
    }
    if (s.programsLost > 0) {
        lines << LangText(apply_row::ProgramsLost).arg(s.programsLost);
    }
    return lines.join(QLatin1Char('\n'));
}

QString StopText(const ApplyResult& r)
{
    QString why;
    switch (r.stop) {
    case ApplyResult::Stop::Refused:
        why = LangText(apply_row::Refused).arg(r.refusal);
        break;
    case ApplyResult::Stop::LinkLost:
        why = LangText(apply_row::LinkLost);
        break;
    case ApplyResult::Stop::NoAnswer:
        why = LangText(apply_row::NoAnswer);
        break;
    case ApplyResult::Stop::Cancelled:
        why = LangText(apply_row::Cancelled);
        break;
    case ApplyResult::Stop::NotSaved:
        why = LangText(apply_row::NotSaved);
        break;
    case ApplyResult::Stop::NotKept:
        why = LangText(apply_row::NotKept);
        break;
    case ApplyResult::Stop::ReadFailed:
        why = LangText(apply_row::ReadFailed);
        break;
    case ApplyResult::Stop::NoSatellite:
        why = LangText(apply_row::NoSatellite);
        break;
    case ApplyResult::Stop::JournalFailed:
        why = LangText(apply_row::JournalFailed);
        break;
    case ApplyResult::Stop::LossNotAllowed: {
        size_t lost = 0;
        for (const PlanStep& step : r.leftSteps) {
            lost += step.programsLost;
        }
        why = LangText(apply_row::LossNotAllowed).arg(lost);
        break;
    }
    default:
        why = utf8(r.stopped);
        break;
    }
    const bool named =
        !r.failedStep.empty() && !r.leftSteps.empty() && r.stop != ApplyResult::Stop::NotSaved;
    return named ? LangText(snapshot_row::StoppedAt) + PlanStepText(r.leftSteps.front()) +
                       QStringLiteral(": ") + why
                 : why;
}

SnapshotApplyDialog::SnapshotApplyDialog(DatabaseContent& content, Snapshot wanted,
                                         std::shared_ptr<ListManager> database,
                                         const QString& title, QWidget* parent)
    : QDialog(parent), m_content(content), m_wanted(std::move(wanted)),
      m_database(std::move(database)), m_satellites(new QCheckBox(this)),
      m_transponders(new QCheckBox(this)), m_system(new QCheckBox(this)),
      m_summary(new QLabel(this)), m_allowLoss(new QCheckBox(this)),
      m_showPlan(new QCheckBox(this)), m_list(new QListWidget(this)), m_status(new QLabel(this)),
      m_progress(new QProgressBar(this))
{
    setObjectName(QStringLiteral("SnapshotApplyDialog"));
    setWindowTitle(LangText(snapshot_row::ApplySnapshot).remove(QStringLiteral("...")) +
                   QStringLiteral(": ") + title);
    m_satellites->setObjectName(QStringLiteral("ApplySatellites"));
    m_transponders->setObjectName(QStringLiteral("ApplyTransponders"));
    m_system->setObjectName(QStringLiteral("ApplySystem"));
    m_satellites->setText(LangText(snapshot_row::Satellites));
    m_transponders->setText(LangText(snapshot_row::Transponders));
    m_system->setText(LangText(snapshot_row::SystemSettings));
    auto* sectionsRow = new QHBoxLayout;
    for (QCheckBox* box : {m_satellites, m_transponders, m_system}) {
        box->setChecked(true);
        sectionsRow->addWidget(box);
        connect(box, &QCheckBox::toggled, this, &SnapshotApplyDialog::showPlan);
    }
    sectionsRow->addStretch();
    m_summary->setObjectName(QStringLiteral("ApplySummary"));
    m_allowLoss->setObjectName(QStringLiteral("ApplyAllowProgramLoss"));
    m_allowLoss->setText(LangText(apply_row::AllowLoss));
    connect(m_allowLoss, &QCheckBox::toggled, this, &SnapshotApplyDialog::showPlan);
    m_showPlan->setObjectName(QStringLiteral("ApplyShowPlan"));
    m_showPlan->setText(LangText(apply_row::ShowPlan));
    m_list->setVisible(false);
    connect(m_showPlan, &QCheckBox::toggled, m_list, &QWidget::setVisible);
    m_list->setObjectName(QStringLiteral("ApplyPlanList"));
    m_status->setObjectName(QStringLiteral("ApplyStatus"));
    m_status->setWordWrap(true);
    m_progress->setObjectName(QStringLiteral("ApplyProgress"));
    m_progress->hide();

    auto* buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(LangText(snapshot_row::kRowApply), QDialogButtonBox::AcceptRole);
    m_apply->setObjectName(QStringLiteral("ApplyRun"));
    m_resume = buttons->addButton(LangText(apply_row::Resume), QDialogButtonBox::ActionRole);
    m_resume->setObjectName(QStringLiteral("ApplyResume"));
    m_rollBack = buttons->addButton(LangText(apply_row::RollBack), QDialogButtonBox::ActionRole);
    m_rollBack->setObjectName(QStringLiteral("ApplyRollBack"));
    m_resume->hide();
    m_rollBack->hide();
    m_close = buttons->addButton(LangText(snapshot_row::Close), QDialogButtonBox::RejectRole);
    m_close->setObjectName(QStringLiteral("ApplyClose"));
    connect(m_apply, &QPushButton::clicked, this, &SnapshotApplyDialog::Start);
    connect(m_resume, &QPushButton::clicked, this, &SnapshotApplyDialog::Resume);
    connect(m_rollBack, &QPushButton::clicked, this, &SnapshotApplyDialog::RollBack);
    connect(m_close, &QPushButton::clicked, this, &SnapshotApplyDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sectionsRow);
    layout->addWidget(m_summary);
    layout->addWidget(m_allowLoss);
    layout->addWidget(m_showPlan);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    resize(720, 480);
    showPlan();
}

SnapshotApplyDialog::~SnapshotApplyDialog()
{
    // The run notices within a step's poll; its posts go nowhere once the
    // dialog is gone.
    m_cancel = true;
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

unsigned SnapshotApplyDialog::sections() const
{
    unsigned s = 0;
    s |= m_satellites->isChecked() ? apply_section::Satellites : 0;
    s |= m_transponders->isChecked() ? apply_section::Transponders : 0;
    s |= m_system->isChecked() ? apply_section::System : 0;
    return s;
}

void SnapshotApplyDialog::showPlan()
{
    if (m_running || m_finished) {
        return;
    }
    m_list->clear();
    const ApplyPlan plan = sections() == 0 || !m_database
                               ? ApplyPlan{}
                               : PlanApply(m_wanted, SnapshotOf(*m_database), sections());
    for (const PlanStep& step : plan.steps) {
        m_list->addItem(PlanStepText(step));
    }
    for (const std::string& problem : plan.problems) {
        m_list->addItem(LangText(snapshot_row::Cannot) + utf8(problem));
    }
    const bool work = !plan.Empty();
    const bool loses = plan.ProgramsLost() > 0;
    m_summary->setText(work ? PlanSummaryText(plan) : QString());
    m_allowLoss->setVisible(loses);
    m_status->setText(LangText(work ? snapshot_row::ApplyQuestion : snapshot_row::NothingToDo));
    m_apply->setEnabled(work && (!loses || m_allowLoss->isChecked()));
}

void SnapshotApplyDialog::Start()
{
    if (m_running || m_finished || sections() == 0 || !m_apply->isEnabled()) {
        return;
    }
    m_sections = sections();
    if (m_database) {
        m_origin = SnapshotOf(*m_database);
    }
    run(false);
}

void SnapshotApplyDialog::Resume()
{
    if (!m_running && m_finished && m_result.PartlyApplied()) {
        run(false);
    }
}

void SnapshotApplyDialog::RollBack()
{
    if (!m_running && m_finished && m_result.PartlyApplied() && m_origin) {
        run(true);
    }
}

void SnapshotApplyDialog::run(bool back)
{
    const bool again = m_finished;
    m_running = true;
    m_finished = false;
    for (QWidget* w : std::initializer_list<QWidget*>{m_satellites, m_transponders, m_system,
                                                      m_apply, m_allowLoss, m_resume, m_rollBack}) {
        w->setEnabled(false);
    }
    m_progress->setRange(0, std::max(1, m_list->count()));
    m_progress->setValue(0);
    m_progress->show();
    if (again) {
        m_database.reset(); // read the device again: it holds part of the plan
    }

    QPointer<SnapshotApplyDialog> self(this);
    auto report = [this, self](size_t done, size_t total, QString text) {
        bool post = false;
        {
            std::lock_guard lock(m_progressMutex);
            if (done > 0) {
                m_latest.done = done;
                m_latest.total = total;
            }
            m_latest.text = std::move(text);
            post = !m_latest.posted;
            m_latest.posted = true;
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
    DeviceRead reader{m_content, {}};
    reader.cancel = &m_cancel;
    ApplyRunOptions options;
    options.allowProgramLoss = m_allowLoss->isChecked();
    options.recordFolder = "Applies";
    options.address = m_address;
    if (again && m_origin) {
        options.origin = &*m_origin;
        options.originPath = m_originPath;
    }
    m_target = back && m_origin ? *m_origin : m_wanted;
    const unsigned chosen = m_sections;
    m_worker = std::thread([this, self, reader, chosen, report, options] {
        std::error_code ignored;
        std::filesystem::create_directories(options.recordFolder, ignored);
        DialogListener listener(report);
        ApplyResult result =
            ApplyRunner(reader, m_limits).Run(m_target, chosen, m_database, &listener, options);
        QMetaObject::invokeMethod(
            this,
            [self, result = std::move(result)]() mutable {
                if (self) {
                    self->finish(std::move(result));
                }
            },
            Qt::QueuedConnection);
    });
}

void SnapshotApplyDialog::showProgress()
{
    Progress p;
    {
        std::lock_guard lock(m_progressMutex);
        p = m_latest;
        m_latest.posted = false;
    }
    if (m_finished) {
        return;
    }
    if (p.total > 0) {
        m_progress->setRange(0, static_cast<int>(p.total));
        m_progress->setValue(static_cast<int>(p.done));
    }
    m_status->setText(p.text);
}

void SnapshotApplyDialog::finish(ApplyResult result)
{
    if (m_worker.joinable()) {
        m_worker.join(); // it has posted its last: the join does not wait
    }
    m_running = false;
    m_finished = true;
    m_result = std::move(result);
    if (m_originPath.empty()) {
        m_originPath = m_result.beforeStatePath;
    }
    // The bar shows what was done, never more.
    const size_t total = m_result.doneSteps.size() + m_result.leftSteps.size();
    m_progress->setRange(0, static_cast<int>(std::max<size_t>(total, 1)));
    m_progress->setValue(m_result.matches ? m_progress->maximum()
                                          : static_cast<int>(m_result.doneSteps.size()));
    m_list->clear();
    for (const PlanStep& done : m_result.doneSteps) {
        m_list->addItem(QStringLiteral("\u2713 ") + PlanStepText(done));
    }
    for (const PlanStep& left : m_result.leftSteps) {
        m_list->addItem(LangText(apply_row::Left) + PlanStepText(left));
    }
    QStringList status;
    if (!m_result.beforeStatePath.empty()) {
        status << LangText(apply_row::StateSaved) + utf8(m_result.beforeStatePath);
    }
    if (m_result.matches) {
        status << LangText(snapshot_row::Matches);
    } else if (!m_result.stopped.empty()) {
        status << StopText(m_result);
        if (m_result.PartlyApplied()) {
            status << LangText(apply_row::PartlyApplied)
                          .arg(m_result.doneSteps.size())
                          .arg(m_result.leftSteps.size());
        }
    } else if (m_result.remainingKnown) {
        status << LangText(snapshot_row::StillDiffers);
        m_list->addItems(DiffLines(m_result.remaining));
    }
    const bool partly = m_result.PartlyApplied();
    m_resume->setVisible(partly);
    m_rollBack->setVisible(partly && m_origin.has_value());
    m_resume->setEnabled(partly);
    m_rollBack->setEnabled(partly);
    m_allowLoss->setEnabled(true);
    if (!m_result.matches) {
        m_showPlan->setChecked(true);
    }
    m_status->setText(status.join(QLatin1Char('\n')));
    m_list->scrollToBottom();
}

void SnapshotApplyDialog::reject()
{
    if (m_running) {
        m_cancel = true; // the run ends after the step in hand; finish() reports it
        return;
    }
    QDialog::reject();
}

} // namespace vireo::ui
