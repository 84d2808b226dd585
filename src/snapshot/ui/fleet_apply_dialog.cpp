#include "snapshot/ui/fleet_apply_dialog.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "link/device_session.h"
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
      m_system(new QCheckBox(this)), m_list(new QListWidget(this)), m_status(new QLabel(this)),
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
    }
    sectionsRow->addStretch();
    m_list->setObjectName(QStringLiteral("FleetApplyList"));
    for (const FleetApplyDevice& d : m_devices) {
        m_list->addItem(d.name);
    }
    m_status->setObjectName(QStringLiteral("FleetApplyStatus"));
    m_status->setText(LangText(snapshot_row::ApplyQuestion));
    m_progress->setRange(0, static_cast<int>(m_devices.size()));
    m_progress->hide();
    auto* buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(LangText(snapshot_row::kRowApply), QDialogButtonBox::AcceptRole);
    m_apply->setObjectName(QStringLiteral("FleetApplyRun"));
    m_close = buttons->addButton(LangText(snapshot_row::Close), QDialogButtonBox::RejectRole);
    m_close->setObjectName(QStringLiteral("FleetApplyClose"));
    connect(m_apply, &QPushButton::clicked, this, &FleetApplyDialog::Start);
    connect(m_close, &QPushButton::clicked, this, &FleetApplyDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sectionsRow);
    layout->addWidget(m_list);
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    resize(640, 420);
    m_apply->setEnabled(!m_devices.empty());
}

FleetApplyDialog::~FleetApplyDialog()
{
    m_cancel = true;
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void FleetApplyDialog::Start()
{
    if (m_running || m_finished) {
        return;
    }
    unsigned sections = 0;
    sections |= m_satellites->isChecked() ? apply_section::Satellites : 0;
    sections |= m_transponders->isChecked() ? apply_section::Transponders : 0;
    sections |= m_system->isChecked() ? apply_section::System : 0;
    if (sections == 0) {
        return;
    }
    m_running = true;
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_satellites, m_transponders, m_system, m_apply}) {
        w->setEnabled(false);
    }
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
    const std::string file = m_file.toStdString();
    m_worker = std::thread([this, self, sections, file, report] {
        std::string error;
        FleetApplyResult result;
        if (const std::optional<Snapshot> wanted = ReadSnapshotFile(file, &error)) {
            WindowTargets targets(m_devices);
            Reporter reporter(report);
            result = ApplyToDevices(*wanted, sections, targets, {}, &reporter, &m_cancel);
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
    m_result = std::move(result);
    m_progress->setValue(m_progress->maximum());
    m_list->clear();
    if (!error.empty()) {
        m_status->setText(LangText(snapshot_row::CannotRead) + utf8(error));
        return;
    }
    for (const FleetApplyResult::Device& d : m_result.devices) {
        QString line = utf8(d.name) + QStringLiteral(": ");
        if (!d.unreachable.empty()) {
            line += LangText(snapshot_row::Cannot) + utf8(d.unreachable);
        } else if (d.result.matches) {
            line += LangText(snapshot_row::Matches);
        } else {
            line += LangText(snapshot_row::StoppedAt) + utf8(d.result.failedStep) +
                    QStringLiteral(" \u2014 ") + utf8(d.result.stopped);
        }
        m_list->addItem(line);
    }
    for (size_t i = m_result.devices.size(); i < m_devices.size(); ++i) {
        m_list->addItem(m_devices[i].name + QStringLiteral(": -"));
    }
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
