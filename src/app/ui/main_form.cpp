#include "app/ui/main_form.h"

#include "app/ui/about_box.h"
#include "app/ui/machine_tree_view.h"
#include "app/ui/window_arrange.h"
#include "dialogs/ui/ip_form.h"
#include "ui/gbk_text.h"
#include "ui/icons.h"

#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace vireo::ui {

namespace {

constexpr int kTreeWidth = 200;
constexpr int kToolbarIconSize = 24;

// Images of the toolbar list.
constexpr int kImageNew = 0;
constexpr int kImageConnect = 1;
constexpr int kImageDisconnect = 2;
constexpr int kImageRenew = 3;
constexpr int kImageClose = 4;
constexpr int kImageUpgrade = 5;

constexpr int kRowSwitchUpHint = 120;
constexpr int kRowSwitchDownHint = 133;

QAction* namedAction(QObject* parent, const char* name)
{
    auto* action = new QAction(parent);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QToolButton* toolButton(QWidget* parent, const char* name, int image)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(ToolbarImage(image));
    button->setAutoRaise(true);
    return button;
}

void setHint(QWidget* widget, const QString& hint)
{
    widget->setToolTip(hint);
    widget->setStatusTip(hint);
}

} // namespace

MainForm::MainForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("TMainForm"));
    setWindowTitle(QString::fromLatin1(kMainCaption));
    setWindowIcon(LoadIcon(QStringLiteral("vireo")));

    m_registry = std::make_unique<MachineManager>([](const std::string& a, const std::string& b) {
        return QString::localeAwareCompare(FromGbk(a), FromGbk(b));
    });
    m_context.hexShowing = 2;
    m_fleet = std::make_shared<FleetModel>();
    buildWidgets();
    m_registry->SetObserver(m_tree);
    m_btnClose->setEnabled(false);
    resize(1024, 720);
}

MainForm::~MainForm()
{
    // Windows still open (the frame was destroyed without being closed) go
    // before the registry they are entered in.
    for (MdiChild* child : ChildrenInTreeOrder()) {
        child->RequestStop();
        child->FinishWindow();
        delete child;
    }
    m_registry->SetObserver(nullptr);
    AttachAlarms(nullptr);
    stopHistory();
}

void MainForm::buildWidgets()
{
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("Splitter_main"));
    m_tree = new MachineTreeView(split);
    m_mdi = new QMdiArea(split);
    m_mdi->setObjectName(QStringLiteral("MdiArea"));
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    split->addWidget(m_tree);
    split->addWidget(m_mdi);
    split->setStretchFactor(1, 1);
    split->setSizes({kTreeWidth, 800});
    setCentralWidget(split);

    buildMenus();
    buildToolbar();
    buildPopup();
    buildFleet();
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));

    connect(m_mdi, &QMdiArea::subWindowActivated, this, &MainForm::onSubWindowActivated);
    connect(m_tree, &MachineTreeView::touched, this, &MainForm::onTreeTouched);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &MainForm::onTreeContextMenu);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, &MainForm::onTreeDoubleClick);
}

void MainForm::buildMenus()
{
    m_fileMenu = menuBar()->addMenu(QString());
    m_fileMenu->setObjectName(QStringLiteral("File1"));
    m_fileNew = namedAction(this, "FileNewItem");
    m_fileNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_fileNew->setIcon(ToolbarImage(kImageNew));
    m_fileExit = namedAction(this, "FileExitItem");
    m_fileMenu->addAction(m_fileNew);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_fileExit);
    connect(m_fileNew, &QAction::triggered, this, &MainForm::FileNewItemClick);
    connect(m_fileExit, &QAction::triggered, this, &QWidget::close);

    m_windowMenu = menuBar()->addMenu(QString());
    m_windowMenu->setObjectName(QStringLiteral("Window1"));
    m_cascade = namedAction(this, "WindowCascadeItem");
    m_tileHorizontally = namedAction(this, "WindowTileItem");
    m_tileVertically = namedAction(this, "WindowTileItem2");
    m_minimizeAll = namedAction(this, "WindowMinimizeItem");
    m_arrange = namedAction(this, "WindowArrangeItem");
    connect(m_cascade, &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    connect(m_tileHorizontally, &QAction::triggered, this,
            [this] { TileWindows(m_mdi, Qt::Vertical); });
    connect(m_tileVertically, &QAction::triggered, this,
            [this] { TileWindows(m_mdi, Qt::Horizontal); });
    connect(m_minimizeAll, &QAction::triggered, this, [this] { MinimizeAll(m_mdi); });
    connect(m_arrange, &QAction::triggered, this, [this] { ArrangeIcons(m_mdi); });
    connect(m_windowMenu, &QMenu::aboutToShow, this, &MainForm::rebuildWindowMenu);
    rebuildWindowMenu();

    m_configMenu = menuBar()->addMenu(QString());
    m_configMenu->setObjectName(QStringLiteral("menu_config"));
    m_hex = namedAction(this, "menu_hex");
    m_hex->setCheckable(true);
    m_hex->setChecked(true);
    m_configMenu->addAction(m_hex);
    connect(m_hex, &QAction::triggered, this, &MainForm::MenuHexClick);

    buildAlarms();

    m_helpMenu = menuBar()->addMenu(QString());
    m_helpMenu->setObjectName(QStringLiteral("Help1"));
    m_aboutItem = namedAction(this, "HelpAboutItem");
    m_helpMenu->addAction(m_aboutItem);
    connect(m_aboutItem, &QAction::triggered, this, &MainForm::HelpAboutItemClick);
}

void MainForm::rebuildWindowMenu()
{
    m_windowMenu->clear();
    m_windowMenu->addAction(m_cascade);
    m_windowMenu->addAction(m_tileHorizontally);
    m_windowMenu->addAction(m_tileVertically);
    m_windowMenu->addAction(m_minimizeAll);
    m_windowMenu->addAction(m_arrange);
    if (m_fleetItem != nullptr) {
        m_windowMenu->addSeparator();
        m_windowMenu->addAction(m_fleetItem);
        m_windowMenu->addAction(m_searchItem);
    }
    const QList<QMdiSubWindow*> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty()) {
        return;
    }
    m_windowMenu->addSeparator();
    int number = 1;
    for (QMdiSubWindow* window : windows) {
        QString text = window->windowTitle();
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (number < 10) {
            text = QStringLiteral("&%1 %2").arg(number).arg(text);
        }
        ++number;
        QAction* item = m_windowMenu->addAction(text);
        item->setCheckable(true);
        item->setChecked(window == m_mdi->currentSubWindow());
        connect(item, &QAction::triggered, this, [this, target = QPointer(window)] {
            if (target) {
                if (auto* child = qobject_cast<MdiChild*>(target.data())) {
                    child->ShowAndRaise();
                } else {
                    m_mdi->setActiveSubWindow(target);
                }
            }
        });
    }
}

void MainForm::buildToolbar()
{
    QToolBar* bar = addToolBar(QString());
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
    m_btnNew = toolButton(bar, "TBtn_new", kImageNew);
    m_btnClose = toolButton(bar, "TBtn_close", kImageClose);
    m_btnSwitch = toolButton(bar, "TBtn_switch", kImageConnect);
    m_btnSwitch->setCheckable(true);
    m_btnSwitch->setEnabled(false);
    m_btnSwitch->setMouseTracking(true);
    m_btnSwitch->installEventFilter(this);
    m_btnRenew = toolButton(bar, "TBtn_renew", kImageRenew);
    m_btnRenew->setEnabled(false);
    m_btnUpgrade = toolButton(bar, "TBtn_upgrade", kImageUpgrade);
    m_btnUpgrade->setEnabled(false);
    for (QToolButton* button : {m_btnNew, m_btnClose, m_btnSwitch, m_btnRenew, m_btnUpgrade}) {
        bar->addWidget(button);
    }
    connect(m_btnNew, &QToolButton::clicked, this, &MainForm::FileNewItemClick);
    connect(m_btnClose, &QToolButton::clicked, this, &MainForm::TBtnCloseClick);
    connect(m_btnSwitch, &QToolButton::clicked, this, &MainForm::TBtnSwitchClick);
    connect(m_btnRenew, &QToolButton::clicked, this, &MainForm::TBtnRenewClick);
    connect(m_btnUpgrade, &QToolButton::clicked, this, &MainForm::TBtnUpgradeClick);
}

void MainForm::buildPopup()
{
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PopupMenu_machines"));
    m_pNew = namedAction(m_popup, "PMenu_new");
    m_pShow = namedAction(m_popup, "PMenu_Show");
    m_pClose = namedAction(m_popup, "PMenu_close");
    m_pReconnect = namedAction(m_popup, "PMenu_reconnect");
    m_pDisconnect = namedAction(m_popup, "PMenu_disconect");
    m_pUpdate = namedAction(m_popup, "PMenu_update");
    m_pConfig = namedAction(m_popup, "PMenu_config");
    m_pModify = namedAction(m_popup, "PMenu_modify");
    m_pUpgrade = namedAction(m_popup, "PMenu_upgrade");
    m_popup->addAction(m_pNew);
    m_popup->addSeparator();
    m_popup->addAction(m_pShow);
    m_popup->addAction(m_pClose);
    m_popup->addSeparator();
    m_popup->addAction(m_pReconnect);
    m_popup->addAction(m_pDisconnect);
    m_popup->addSeparator();
    m_popup->addAction(m_pUpdate);
    m_popup->addAction(m_pConfig);
    m_popup->addAction(m_pModify);
    m_popup->addSeparator();
    m_popup->addAction(m_pUpgrade);

    connect(m_pNew, &QAction::triggered, this, &MainForm::FileNewItemClick);
    connect(m_pShow, &QAction::triggered, this, &MainForm::PMenuShowClick);
    connect(m_pClose, &QAction::triggered, this, &MainForm::PMenuCloseClick);
    connect(m_pReconnect, &QAction::triggered, this, &MainForm::PMenuReconnectClick);
    connect(m_pDisconnect, &QAction::triggered, this, &MainForm::PMenuDisconnectClick);
    connect(m_pUpdate, &QAction::triggered, this, &MainForm::PMenuUpdateClick);
    connect(m_pConfig, &QAction::triggered, this, &MainForm::PMenuConfigClick);
    connect(m_pModify, &QAction::triggered, this, &MainForm::PMenuModifyClick);
    connect(m_pUpgrade, &QAction::triggered, this, &MainForm::PMenuUpgradeClick);
}

void MainForm::applyCaptions()
{
    struct Caption
    {
        QAction* action;
        int row;
    };
    const Caption captions[] = {
        {m_fileMenu->menuAction(), 51},
        {m_fileNew, 52},
        {m_fileExit, 53},
        {m_windowMenu->menuAction(), 54},
        {m_cascade, 55},
        {m_tileHorizontally, 56},
        {m_tileVertically, 57},
        {m_minimizeAll, 58},
        {m_arrange, 59},
        {m_configMenu->menuAction(), 60},
        {m_hex, 61},
        {m_helpMenu->menuAction(), 62},
        {m_aboutItem, 63},
        {m_pNew, 43},
        {m_pShow, 44},
        {m_pClose, 16},
        {m_pReconnect, 45},
        {m_pDisconnect, 46},
        {m_pUpdate, 47},
        {m_pConfig, 48},
        {m_pModify, 49},
        {m_pUpgrade, 50},
    };
    for (const Caption& c : captions) {
        c.action->setText(LangText(c.row));
    }
    applyAlarmCaptions();
    setHint(m_btnNew, LangText(64));
    setHint(m_btnClose, LangText(65));
    setHint(m_btnRenew, LangText(67));
    setHint(m_btnUpgrade, LangText(68));
    setHint(m_btnSwitch, LangText(kRowSwitchUpHint));
    applyFleetCaptions();
}

// --- the toolbar as the device windows see it ---

MdiChild* MainForm::ActiveChild() const
{
    return qobject_cast<MdiChild*>(m_mdi->currentSubWindow());
}

bool MainForm::ReflectsToolbar(const MdiChild* child) const
{
    return child != nullptr && ActiveChild() == child;
}

void MainForm::SetSwitchDown(bool down)
{
    m_btnSwitch->setChecked(down);
    m_btnSwitch->setIcon(ToolbarImage(down ? kImageDisconnect : kImageConnect));
}

void MainForm::SetRenewUpgradeEnabled(bool enabled)
{
    m_btnRenew->setEnabled(enabled);
    m_btnUpgrade->setEnabled(enabled);
}

void MainForm::ResetToolbar()
{
    m_btnClose->setEnabled(false);
    SetSwitchDown(false);
    m_btnSwitch->setEnabled(false);
    SetRenewUpgradeEnabled(false);
}

void MainForm::SetMachineMark(NodeId node, const QString& mark)
{
    m_tree->SetNodeMark(node, mark);
}

int MainForm::DocumentWindowCount() const
{
    return static_cast<int>(m_registry->MachineCount());
}

bool MainForm::IsLastShownWindow(const MdiChild* window) const
{
    if (window == nullptr || !window->IsShownInFrame()) {
        return false;
    }
    for (QMdiSubWindow* other : m_mdi->subWindowList()) {
        if (other != window && qobject_cast<MdiChild*>(other) != nullptr) {
            return false;
        }
    }
    return true;
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    // The switch's hint follows its state whenever the mouse moves over it.
    if (watched == m_btnSwitch &&
        (event->type() == QEvent::MouseMove || event->type() == QEvent::HoverMove ||
         event->type() == QEvent::Enter)) {
        const QString hint =
            LangText(m_btnSwitch->isChecked() ? kRowSwitchDownHint : kRowSwitchUpHint);
        if (m_btnSwitch->toolTip() != hint) {
            setHint(m_btnSwitch, hint);
            statusBar()->showMessage(hint);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- activation and the machine tree ---

void MainForm::onSubWindowActivated(QMdiSubWindow* window)
{
    auto* child = qobject_cast<MdiChild*>(window);
    if (child == nullptr) {
        // The frame lost the focus, or the last window went: the current
        // mark stays where it is until another window is activated.
        return;
    }
    if (m_lastActive && m_lastActive != child) {
        m_lastActive->Deactivate();
    }
    m_lastActive = child;
    child->Activate();
}

void MainForm::onTreeTouched()
{
    MdiChild* active = ActiveChild();
    if (active == nullptr) {
        return;
    }
    if (active->Entry() != nullptr) {
        m_registry->MarkCurrent(active->Entry());
    } else {
        m_registry->UnmarkCurrent(m_registry->CurrentEntry());
    }
}

} // namespace vireo::ui
