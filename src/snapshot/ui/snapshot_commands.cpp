#include "snapshot/ui/snapshot_commands.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "lang/display_text.h"
#include "snapshot/apply_rows.h"
#include "snapshot/snapshot.h"
#include "snapshot/snapshot_diff.h"
#include "snapshot/snapshot_document.h"
#include "snapshot/ui/snapshot_apply_dialog.h"
#include "snapshot/ui/snapshot_diff_dialog.h"
#include "snapshot/ui/snapshot_rows.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QToolButton>
#include <fstream>

namespace vireo::ui {

namespace {

// "address:name" split at its first colon.
std::pair<std::string, std::string> splitCaption(const std::string& caption)
{
    const size_t colon = caption.find(':');
    if (colon == std::string::npos) {
        return {caption, {}};
    }
    return {caption.substr(0, colon), caption.substr(colon + 1)};
}

QString localPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QString ChooseSnapshotFile(QWidget* parent, bool save, const QString& start)
{
    QPointer<QFileDialog> dialog =
        new QFileDialog(parent, QString(), start.isEmpty() ? QDir::currentPath() : start,
                        LangText(snapshot_row::FileFilter));
    dialog->setObjectName(save ? QStringLiteral("SnapshotSaveDialog")
                               : QStringLiteral("SnapshotOpenDialog"));
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setDefaultSuffix(QStringLiteral("json"));
    const int result = ModalSeam::Exec(dialog);
    QString path;
    if (dialog && result == QDialog::Accepted) {
        path = dialog->selectedFiles().value(0);
    }
    delete dialog.data();
    return path;
}

SnapshotCommands::SnapshotCommands(QWidget* window, DatabaseContent* content,
                                   std::function<std::string()> caption)
    : QObject(window), m_window(window), m_content(content), m_caption(std::move(caption)),
      m_save(new QAction(LangText(snapshot_row::SaveSnapshot), this)),
      m_compare(new QAction(LangText(snapshot_row::CompareSnapshot), this)),
      m_apply(new QAction(LangText(snapshot_row::ApplySnapshot), this))
{
    m_save->setObjectName(QStringLiteral("SnapshotSave"));
    m_compare->setObjectName(QStringLiteral("SnapshotCompare"));
    m_apply->setObjectName(QStringLiteral("SnapshotApply"));
    connect(m_save, &QAction::triggered, this, &SnapshotCommands::Save);
    connect(m_compare, &QAction::triggered, this, &SnapshotCommands::Compare);
    connect(m_apply, &QAction::triggered, this, &SnapshotCommands::Apply);
    setBusy(false);
}

SnapshotCommands::~SnapshotCommands()
{
    if (m_worker.joinable()) {
        m_worker.join(); // a file being written or read: short
    }
}

void SnapshotCommands::AddTo(QMenu* menu)
{
    menu->addSeparator();
    menu->addAction(m_save);
    menu->addAction(m_compare);
    menu->addAction(m_apply);
    // The shortcuts work wherever the keyboard is in the device window.
    const QKeySequence keys[] = {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S),
                                 QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C),
                                 QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A)};
    QAction* actions[] = {m_save, m_compare, m_apply};
    for (int i = 0; i < 3; ++i) {
        actions[i]->setShortcut(keys[i]);
        actions[i]->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_window->addAction(actions[i]);
    }
}

QToolButton* SnapshotCommands::MakeButton(QWidget* parent)
{
    m_button = new QToolButton(parent);
    m_button->setObjectName(QStringLiteral("SnapshotButton"));
    m_button->setPopupMode(QToolButton::InstantPopup);
    m_button->setAutoRaise(true);
    auto* menu = new QMenu(m_button);
    menu->addAction(m_save);
    menu->addAction(m_compare);
    menu->addAction(m_apply);
    m_button->setMenu(menu);
    ApplyCaptions();
    return m_button;
}

void SnapshotCommands::ApplyCaptions()
{
    m_save->setText(LangText(snapshot_row::SaveSnapshot));
    m_compare->setText(LangText(snapshot_row::CompareSnapshot));
    m_apply->setText(LangText(snapshot_row::ApplySnapshot));
    if (m_button != nullptr) {
        // The menu's title without its key: the main window's menu has it.
        QString title = LangText(apply_row::SnapshotMenu);
        title.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
        title.remove(QLatin1Char('&'));
        m_button->setText(title);
    }
}

void SnapshotCommands::setBusy(bool busy)
{
    m_busy = busy;
    for (QAction* a : {m_save, m_compare, m_apply}) {
        a->setEnabled(!busy && m_content != nullptr);
    }
}

bool SnapshotCommands::databaseReady()
{
    if (m_busy || m_content == nullptr) {
        return false;
    }
    if (!m_content->DataLoaded() || !m_content->Database()) {
        MessageBox::Information(m_window, LangText(snapshot_row::NotRead));
        return false;
    }
    return true;
}

QString SnapshotCommands::chooseFile(bool save)
{
    QString start;
    if (save) {
        const auto [address, name] = splitCaption(m_caption());
        start = QDir::currentPath() + QStringLiteral("/") + QString::fromStdString(address) +
                QStringLiteral("-") +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")) +
                QStringLiteral(".json");
    }
    return ChooseSnapshotFile(m_window, save, start);
}

void SnapshotCommands::runOnWorker(std::function<void()> work, std::function<void()> done)
{
    if (m_worker.joinable()) {
        m_worker.join(); // the previous command's worker has posted its end
    }
    setBusy(true);
    QPointer<SnapshotCommands> self(this);
    m_worker = std::thread([this, self, work = std::move(work), done = std::move(done)] {
        work();
        QMetaObject::invokeMethod(
            this,
            [self, done] {
                if (self) {
                    self->setBusy(false);
                    done();
                }
            },
            Qt::QueuedConnection);
    });
}

void SnapshotCommands::Save()
{
    if (!databaseReady()) {
        return;
    }
    const QString path = chooseFile(true);
    if (path.isEmpty()) {
        return;
    }
    m_lastFile = path;
    const auto [address, name] = splitCaption(m_caption());
    const std::shared_ptr<ListManager> db = m_content->Database();
    auto ok = std::make_shared<bool>(false);
    const std::string file = path.toStdString();
    runOnWorker(
        [db, ok, file, address, name] {
            const std::string json = DatabaseJson(*db, SnapshotHeader{address, name});
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << json;
            *ok = static_cast<bool>(out.flush());
        },
        [this, ok, path] {
            MessageBox::Information(
                m_window,
                LangText(*ok ? snapshot_row::Saved : snapshot_row::CannotWrite) + localPath(path));
        });
}

void SnapshotCommands::Compare()
{
    if (!databaseReady()) {
        return;
    }
    const QString path = chooseFile(false);
    if (path.isEmpty()) {
        return;
    }
    m_lastFile = path;
    const std::shared_ptr<ListManager> db = m_content->Database();
    auto diff = std::make_shared<std::optional<SnapshotDiff>>();
    auto error = std::make_shared<std::string>();
    const std::string file = path.toStdString();
    runOnWorker(
        [db, diff, error, file] {
            const std::optional<Snapshot> wanted = ReadSnapshotFile(file, error.get());
            if (wanted) {
                *diff = DiffSnapshots(*wanted, SnapshotOf(*db));
            }
        },
        [this, diff, error, path] {
            if (!*diff) {
                MessageBox::Information(m_window, LangText(snapshot_row::CannotRead) +
                                                      QString::fromUtf8(error->c_str()));
                return;
            }
            SnapshotDiffDialog dialog(**diff, QFileInfo(path).fileName(), m_window);
            ModalSeam::Exec(&dialog);
        });
}

void SnapshotCommands::Apply()
{
    if (!databaseReady()) {
        return;
    }
    const QString path = chooseFile(false);
    if (path.isEmpty()) {
        return;
    }
    m_lastFile = path;
    auto wanted = std::make_shared<std::optional<Snapshot>>();
    auto error = std::make_shared<std::string>();
    const std::string file = path.toStdString();
    runOnWorker([wanted, error, file] { *wanted = ReadSnapshotFile(file, error.get()); },
                [this, wanted, error, path] {
                    if (!*wanted) {
                        MessageBox::Information(m_window, LangText(snapshot_row::CannotRead) +
                                                              QString::fromUtf8(error->c_str()));
                        return;
                    }
                    const std::shared_ptr<ListManager> db = m_content->Database();
                    if (!db || !m_content->DataLoaded()) {
                        MessageBox::Information(m_window, LangText(snapshot_row::NotRead));
                        return;
                    }
                    SnapshotApplyDialog dialog(*m_content, std::move(**wanted), db,
                                               QFileInfo(path).fileName(), m_window);
                    dialog.SetAddress(splitCaption(m_caption()).first);
                    setBusy(true);
                    ModalSeam::Exec(&dialog);
                    setBusy(false);
                });
}

} // namespace vireo::ui
