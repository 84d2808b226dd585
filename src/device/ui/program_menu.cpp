#include "device/ui/program_menu.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "device/program_commands.h"
#include "device/ui/device_host.h"
#include "device/ui/program_tree_view.h"
#include "device/ui/programs_page.h"
#include "dialogs/ui/form_device.h"
#include "dialogs/ui/sat_form.h"
#include "dialogs/ui/tp_form.h"
#include "link/device_session.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QAction>
#include <QMenu>
#include <cstring>

namespace vireo::ui {

namespace {

// Every item the menu may offer.
const char* const kItems[] = {"P_Play",     "ST_Stop",    "P_Delete",   "P_Multi",  "P_Multi_u",
                              "P_Multi_D",  "P_DeMulti",  "S_Scan",     "S_Set",    "S_Delete",
                              "S_Add",      "T_Add",      "T_Delete",   "T_Modify", "T_ScanTP",
                              "C_Hex_show", "C_Dec_show", "P_Renew",    "P_Audio",  "P_Audio1",
                              "P_Audio2",   "P_Audio3",   "P_Audio_All"};

// The window's session as the dialogs' device, with the window's database
// to read the records as they are when Ok is pressed.
class WindowFormDevice : public SessionFormDevice
{
public:
    explicit WindowFormDevice(DatabaseContent& content)
        : SessionFormDevice(content.Session()), m_content(content)
    {}
    std::optional<SatelliteWire> HeldSatellite(uint8_t index) override
    {
        const std::shared_ptr<ListManager> db = m_content.Database();
        if (!db) {
            return std::nullopt;
        }
        std::lock_guard lock(db->SatelliteLock());
        const SatelliteRecord* record = db->FindSatellite(index);
        return record == nullptr ? std::nullopt : std::optional(record->wire);
    }
    std::optional<TpWire> HeldTp(uint8_t index) override
    {
        const std::shared_ptr<ListManager> db = m_content.Database();
        if (!db) {
            return std::nullopt;
        }
        std::lock_guard lock(db->TpLock());
        const TpRecord* record = db->FindTp(index);
        return record == nullptr ? std::nullopt : std::optional(record->wire);
    }

private:
    DatabaseContent& m_content;
};

} // namespace

ProgramMenuController::ProgramMenuController(ProgramsPage& page, DatabaseContent& content,
                                             DeviceHost& host, std::function<bool()> usable,
                                             QWidget* dialogParent)
    : QObject(nullptr), // owned by the window, which outlives the page's signals
      m_page(page), m_content(content), m_host(host), m_usable(std::move(usable)),
      m_dialogParent(dialogParent), m_commands(std::make_unique<ProgramCommands>(content))
{
    connectActions();
}

ProgramMenuController::~ProgramMenuController() = default;

QAction* ProgramMenuController::action(const char* name) const
{
    const QString objectName = QString::fromLatin1(name);
    const QList<QAction*> actions = m_page.ProgramMenu()->findChildren<QAction*>(objectName);
    for (QAction* a : actions) {
        if (a->objectName() == objectName) {
            return a;
        }
    }
    return nullptr;
}

void ProgramMenuController::hideAll()
{
    for (const char* name : kItems) {
        if (QAction* a = action(name)) {
            a->setVisible(false);
            a->setEnabled(true);
            // The Hex/Dec marks stay as they were unless a PID line sets them.
            if (std::strcmp(name, "C_Hex_show") != 0 && std::strcmp(name, "C_Dec_show") != 0) {
                a->setCheckable(false);
                a->setChecked(false);
            }
        }
    }
    for (const char* name : {"P_Audio1", "P_Audio2", "P_Audio3"}) {
        if (QAction* a = action(name)) {
            a->setText(QString());
        }
    }
}

bool ProgramMenuController::Prepare(bool radioTree)
{
    hideAll();
    m_radio = radioTree;
    ProgramTree& tree = radioTree ? m_content.RadioTree() : m_content.TvTree();
    const TreeNodeId selected = tree.Selected();
    if (!m_usable() || tree.Size() == 0 || selected == kNoTreeNode) {
        return false;
    }
    const ProgramPopup popup = ComputeProgramPopup(m_content, radioTree, selected);
    if (!popup.logLine.empty()) {
        m_content.LogRaw(popup.logLine);
    }
    for (const std::string& name : popup.visible) {
        if (QAction* a = action(name.c_str())) {
            a->setVisible(true);
        }
    }
    // Items of the submenus show with their menus.
    for (const char* name : {"P_Multi_u", "P_Multi_D"}) {
        action(name)->setVisible(popup.Shows("P_Multi"));
    }
    for (int n = 0; n < 3; ++n) {
        QAction* a = action(("P_Audio" + std::to_string(n + 1)).c_str());
        a->setText(FromGbk(popup.audioCaptions[n]));
        a->setCheckable(true);
        a->setChecked(popup.checkedAudio == n);
    }
    QAction* all = action("P_Audio_All");
    all->setCheckable(true);
    all->setChecked(popup.allAudioChecked);
    if (popup.decimalChecked) {
        action("C_Dec_show")->setCheckable(true);
        action("C_Hex_show")->setCheckable(true);
        action("C_Dec_show")->setChecked(*popup.decimalChecked);
        action("C_Hex_show")->setChecked(!*popup.decimalChecked);
    }
    return !popup.visible.empty();
}

void ProgramMenuController::Open(bool radioTree, const QPoint& globalPos)
{
    if (Prepare(radioTree)) {
        m_page.ProgramMenu()->popup(globalPos);
    }
}

bool ProgramMenuController::confirm(const std::string& question)
{
    if (question.empty()) {
        return false;
    }
    // The window may close while the question is open (it goes with the
    // window): then there is nothing left to run the command on.
    const QPointer<ProgramMenuController> alive(this);
    const bool ok =
        MessageBox::Ask(m_dialogParent, FromGbk(question), QMessageBox::Ok | QMessageBox::Cancel,
                        QMessageBox::Cancel) == QMessageBox::Ok;
    return ok && alive && m_usable();
}

void ProgramMenuController::runDialog(QDialog* dialog, const std::function<void()>& run)
{
    if (dialog == nullptr || m_openDialog) {
        return;
    }
    const QPointer<ProgramMenuController> alive(this);
    m_openDialog = dialog;
    run();
    if (alive) {
        m_openDialog = nullptr;
    }
}

void ProgramMenuController::CancelDialogs()
{
    if (m_openDialog) {
        m_openDialog->reject();
    }
}

void ProgramMenuController::connectActions()
{
    auto on = [this](const char* name, std::function<void()> handler) {
        if (QAction* a = action(name)) {
            connect(a, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
        }
    };
    on("P_Play", [this] { m_commands->Play(m_radio); });
    on("P_Renew", [this] { m_commands->Renew(m_radio); });
    on("P_Multi_u", [this] { m_commands->MultiDescramble(m_radio, 2); });
    on("P_Multi_D", [this] { m_commands->MultiDescramble(m_radio, 1); });
    on("P_DeMulti", [this] { m_commands->MultiDescramble(m_radio, 0); });
    on("P_Audio1", [this] { m_commands->SelectAudio(m_radio, 0); });
    on("P_Audio2", [this] { m_commands->SelectAudio(m_radio, 1); });
    on("P_Audio3", [this] { m_commands->SelectAudio(m_radio, 2); });
    on("P_Audio_All", [this] {
        // The mark shows the state before the click: on turns it off (251).
        const bool wasOn = !action("P_Audio_All")->isChecked();
        m_commands->SelectAudio(m_radio, wasOn ? 251 : 250);
    });
    on("ST_Stop", [this] { m_commands->StopScan(); });
    on("S_Scan", [this] { m_commands->ScanSatellite(m_radio); });
    on("T_ScanTP", [this] { m_commands->ScanTp(m_radio); });
    on("C_Hex_show", [this] { m_commands->SwitchPidFormat(m_radio, 2); });
    on("C_Dec_show", [this] { m_commands->SwitchPidFormat(m_radio, 1); });
    on("P_Delete", [this] {
        if (confirm(m_commands->DeleteProgramQuestion(m_radio))) {
            m_commands->DeleteProgram(m_radio);
        }
    });
    on("S_Delete", [this] {
        if (confirm(m_commands->DeleteSatelliteQuestion(m_radio))) {
            m_commands->DeleteSatellite(m_radio);
        }
    });
    // The satellite and transponder dialogs open on copies of the records and
    // send their request themselves. They belong to the main window, so a
    // window that closes while one is open frees nothing of it; the window's
    // closing cancels it first (CancelDialogs).
    on("S_Set", [this] {
        if (const auto satellite = m_commands->SelectedSatellite(m_radio)) {
            SatForm* form = m_host.SatelliteDialog();
            WindowFormDevice device(m_content);
            runDialog(form, [&] { form->Init_Form_SatSet(&*satellite, &device); });
        }
    });
    on("S_Add", [this] {
        SatForm* form = m_host.SatelliteDialog();
        WindowFormDevice device(m_content);
        runDialog(form, [&] { form->Init_Form_SatAdd(&device); });
    });
    on("T_Add", [this] {
        if (const auto satellite = m_commands->SelectedSatellite(m_radio)) {
            TpForm* form = m_host.TransponderDialog();
            WindowFormDevice device(m_content);
            runDialog(form, [&] { form->Init_Form_TpAdd(&*satellite, &device); });
        }
    });
    on("T_Modify", [this] {
        if (const auto tp = m_commands->SelectedTp(m_radio)) {
            TpForm* form = m_host.TransponderDialog();
            WindowFormDevice device(m_content);
            runDialog(form, [&] { form->Init_Form_TpSet(&*tp, &device); });
        }
    });
    on("T_Delete", [this] {
        if (confirm(m_commands->DeleteTpQuestion(m_radio))) {
            m_commands->DeleteTp(m_radio);
        }
    });
}

} // namespace vireo::ui
