#include "app/ui/begin_upgrade.h"

#include "device/ui/mdi_child.h"
#include "dialogs/ui/sel_form.h"
#include "lang/display_text.h"
#include "lang/language_table.h"
#include "link/message_code.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"
#include "upgrade/upgrade_frame.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace vireo::ui {

namespace {

constexpr int kRowAskForVersion = 38;
constexpr int kRowAskToUpgrade = 39;
constexpr int kRowGiveUp = 155;
constexpr int kRowSelectedFile = 156;

// The version is looked for every half second.
constexpr int kVersionCheckMs = 500;
constexpr int kRowNoVersion = 214;

bool g_preparing = false;

class PreparingScope
{
public:
    PreparingScope() { g_preparing = true; }
    ~PreparingScope() { g_preparing = false; }
    PreparingScope(const PreparingScope&) = delete;
    PreparingScope& operator=(const PreparingScope&) = delete;
};

bool usable(const QPointer<MdiChild>& window)
{
    return window && !window->IsClosing();
}

std::string versionText(const upgrade::VersionId& v)
{
    char text[64];
    std::snprintf(text, sizeof text, "\n\n Loader: V%d.%d\tSoftware: V%d.%d", v[0], v[1], v[2],
                  v[3]);
    return text;
}

// Asks the device for its version and waits up to `limit` for it with the
// event loop running, so the session goes on storing replies and the window
// stays usable. None when the session stops, the window goes or nothing
// arrives in time; `timedOut` tells the last apart.
std::optional<upgrade::VersionId> requestVersion(const QPointer<MdiChild>& window,
                                                 std::chrono::milliseconds limit, bool& timedOut)
{
    timedOut = false;
    if (window->Session().SendRequest(msg::QueryVersion)) {
        return std::nullopt; // refused: the session is going, and says so
    }
    std::optional<upgrade::VersionId> version;
    QEventLoop loop;
    QTimer check;
    check.setInterval(std::min<int>(kVersionCheckMs, static_cast<int>(limit.count())));
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (!usable(window) || window->Session().stop) {
            loop.quit();
            return;
        }
        version = window->Content().DeviceVersion();
        if (version || waited.elapsed() >= limit.count()) {
            loop.quit();
        }
    });
    QObject::connect(window.data(), &QObject::destroyed, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    if (!usable(window) || window->Session().stop) {
        return std::nullopt;
    }
    timedOut = !version;
    return version;
}

// The file to send, or empty when the operator cancels. The dialog is made
// for each use, so no name carries over from the last one; it belongs to the
// main window, which outlives any device window.
QString chooseUpgradeFile(QWidget* parent)
{
    QPointer<QFileDialog> dialog = new QFileDialog(parent, QString(), QDir::currentPath(),
                                                   QStringLiteral("Bin Files (*.bin)"));
    dialog->setObjectName(QStringLiteral("OpenDialog_upfile"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    const int result = ModalSeam::Exec(dialog);
    QString path;
    if (dialog && result == QDialog::Accepted) {
        path = QDir::toNativeSeparators(dialog->selectedFiles().value(0));
    }
    delete dialog.data();
    return path;
}

} // namespace

void BeginUpgrade(MdiChild& target, SelForm& selForm, std::chrono::milliseconds versionWait)
{
    if (g_preparing || target.IsClosing() || target.UpgradeRunning() ||
        !target.HasDeviceDatabase()) {
        return;
    }
    PreparingScope preparing;
    QPointer<MdiChild> window(&target);
    // Boxes and dialogs belong to the main window: the device window may go
    // while one of them is open.
    QWidget* owner = target.window();

    std::optional<upgrade::VersionId> version = target.Content().DeviceVersion();
    if (!version) {
        const auto answer = MessageBox::Ask(
            owner, FromGbk(DisplayText(target.Caption()) + GetLangText(kRowAskForVersion)),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Ok || !usable(window)) {
            return;
        }
        bool timedOut = false;
        version = requestVersion(window, versionWait, timedOut);
        if (timedOut) {
            // A device that never answers: the operator hears of it and the
            // upgrade is given up.
            window->Log().AddLogLine(GetLangText(kRowNoVersion));
            window->Log().AddLogLine(GetLangText(kRowGiveUp));
            MessageBox::Information(owner,
                                    FromGbk(window->Caption() + ": " + GetLangText(kRowNoVersion) +
                                            "\n" + GetLangText(kRowGiveUp)));
        }
        if (!version) {
            return;
        }
    }

    const auto answer =
        MessageBox::Ask(owner,
                        FromGbk(GetLangText(kRowAskToUpgrade) + DisplayText(window->Caption()) +
                                versionText(*version)),
                        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (!usable(window)) {
        return;
    }
    if (answer != QMessageBox::Ok) {
        window->Upgrade().SetJob(window->Upgrade().Type(), {});
        return;
    }

    const int type = selForm.ChooseUpgradeType();
    if (!usable(window)) {
        return;
    }
    if (type == upgrade::upgrade_type::None) {
        window->Upgrade().SetJob(type, window->Upgrade().Path());
        window->Log().AddLogLine(GetLangText(kRowGiveUp));
        return;
    }

    const QString path = chooseUpgradeFile(owner);
    if (!usable(window)) {
        return;
    }
    // The transfer opens the file by its name in the system's encoding; the
    // log shows it as the rest of the log, in GBK.
    window->Upgrade().SetJob(type, QFile::encodeName(path).toStdString(), ToGbk(path));
    if (path.isEmpty()) {
        window->Log().AddLogLine(GetLangText(kRowGiveUp));
        return;
    }
    window->Log().AddLogLine(GetLangText(kRowSelectedFile) + DisplayText(ToGbk(path)));
    window->Session().SendRequest(msg::StartUpgrade);
}

} // namespace vireo::ui
