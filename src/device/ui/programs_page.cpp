#include "device/ui/programs_page.h"

#include "device/ui/program_tree_view.h"
#include "ui/gbk_text.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSplitter>
#include <QVBoxLayout>

namespace vireo::ui {

namespace {

constexpr int kStripHeight = 30;
constexpr int kCheckBoxTop = 6;
constexpr int kCheckBoxWidth = 80;

QString gaugeStyle(const QString& colour)
{
    return QStringLiteral("QProgressBar { border: 1px solid #5a6270; background: "
                          "#f4f4f4; } QProgressBar::chunk { background: %1; }")
        .arg(colour);
}

QProgressBar* makeGauge(const QString& name, const QString& colour, QWidget* parent)
{
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(name);
    gauge->setRange(0, 99);
    gauge->setValue(0);
    gauge->setTextVisible(false);
    gauge->setFormat(QStringLiteral("%p%"));
    gauge->setAlignment(Qt::AlignCenter);
    gauge->setStyleSheet(gaugeStyle(colour));
    return gauge;
}

// Menu items of the program trees by component name and language row.
struct MenuRow
{
    const char* name;
    int row;
};

} // namespace

ProgramsPage::ProgramsPage(ProgramTree& tvTree, ProgramTree& radioTree, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet_progs"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    buildStrip();
    layout->addWidget(m_strip);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("Splitter_treeview"));
    m_splitter->setChildrenCollapsible(false);
    m_tv = new ProgramTreeView(tvTree, QStringLiteral("TreeView_TV"), m_splitter);
    m_radio = new ProgramTreeView(radioTree, QStringLiteral("TreeView_RADIO"), m_splitter);
    m_splitter->addWidget(m_tv);
    m_splitter->addWidget(m_radio);
    layout->addWidget(m_splitter, 1);

    buildMenu();
    for (ProgramTreeView* tree : {m_tv, m_radio}) {
        connect(tree, &QWidget::customContextMenuRequested, this,
                [this, tree](const QPoint& pos) { showMenu(tree, pos); });
    }
}

void ProgramsPage::buildStrip()
{
    m_strip = new QWidget(this);
    m_strip->setObjectName(QStringLiteral("Panel1"));
    m_strip->setFixedHeight(kStripHeight);

    m_intensityLabel = new QLabel(m_strip);
    m_intensityLabel->setObjectName(QStringLiteral("SText_int"));
    m_intensityLabel->setGeometry(6, 7, 66, 16);
    m_intensity = makeGauge(QStringLiteral("CGauge_int"), QStringLiteral("#2f7be8"), m_strip);
    m_intensity->setGeometry(74, 6, 110, 18);

    m_qualityLabel = new QLabel(m_strip);
    m_qualityLabel->setObjectName(QStringLiteral("SText_qua"));
    m_qualityLabel->setGeometry(196, 7, 66, 16);
    m_quality = makeGauge(QStringLiteral("CGauge_qua"), QStringLiteral("#2ec42e"), m_strip);
    m_quality->setGeometry(264, 6, 110, 18);

    // The check boxes stand 80 pixels apart; a compact font keeps their
    // captions within that.
    QFont compact = m_strip->font();
    compact.setPixelSize(10);
    m_query = new QCheckBox(m_strip);
    m_query->setFont(compact);
    m_query->setObjectName(QStringLiteral("ChBx_Query"));
    m_query->setChecked(true);
    m_showRadio = new QCheckBox(m_strip);
    m_showRadio->setFont(compact);
    m_showRadio->setObjectName(QStringLiteral("ChBx_ShowRadio"));
    m_showRadio->setChecked(false);
    PlaceCheckBoxes(400, 480);
}

void ProgramsPage::buildMenu()
{
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("PMenu_child_prog"));
    auto add = [](QMenu* menu, const MenuRow& item) {
        QAction* action = menu->addAction(QString());
        action->setObjectName(QString::fromLatin1(item.name));
        action->setProperty("langRow", item.row);
        return action;
    };
    auto addSub = [this](const MenuRow& item) {
        QMenu* sub = m_menu->addMenu(QString());
        sub->setObjectName(QString::fromLatin1(item.name));
        sub->menuAction()->setObjectName(QString::fromLatin1(item.name));
        sub->menuAction()->setProperty("langRow", item.row);
        return sub;
    };
    add(m_menu, {"P_Play", 73});
    add(m_menu, {"ST_Stop", 74});
    add(m_menu, {"P_Delete", 75});
    QMenu* multi = addSub({"P_Multi", 76});
    add(multi, {"P_Multi_u", 77});
    add(multi, {"P_Multi_D", 78});
    add(m_menu, {"P_DeMulti", 79});
    m_menu->addSeparator();
    add(m_menu, {"S_Scan", 80});
    add(m_menu, {"S_Set", 81});
    add(m_menu, {"S_Delete", 82});
    add(m_menu, {"S_Add", 83});
    m_menu->addSeparator();
    add(m_menu, {"T_Add", 84});
    add(m_menu, {"T_Delete", 85});
    add(m_menu, {"T_Modify", 86});
    add(m_menu, {"T_ScanTP", 87});
    m_menu->addSeparator();
    add(m_menu, {"C_Hex_show", 88});
    add(m_menu, {"C_Dec_show", 89});
    add(m_menu, {"P_Renew", 90});
    QMenu* audio = addSub({"P_Audio", 91});
    add(audio, {"P_Audio1", 92});
    add(audio, {"P_Audio2", 93});
    add(audio, {"P_Audio3", 94});
    audio->addSeparator();
    add(audio, {"P_Audio_All", 200});
}

void ProgramsPage::showMenu(ProgramTreeView* tree, const QPoint& pos)
{
    // A click beside the nodes opens the menu of the node selected before.
    emit menuRequested(tree == m_radio, tree->viewport()->mapToGlobal(pos));
}

void ProgramsPage::ApplyCaptions()
{
    m_intensityLabel->setText(LangText(92));
    m_qualityLabel->setText(LangText(93));
    m_query->setText(LangText(94));
    m_showRadio->setText(LangText(95));
    const QList<QAction*> actions = m_menu->findChildren<QAction*>();
    for (QAction* action : actions) {
        const QVariant row = action->property("langRow");
        if (row.isValid()) {
            action->setText(LangText(row.toInt()));
        }
    }
}

void ProgramsPage::SetGauges(int intensity, int quality, bool showText)
{
    m_intensity->setValue(intensity);
    m_quality->setValue(quality);
    m_intensity->setTextVisible(showText);
    m_quality->setTextVisible(showText);
}

void ProgramsPage::SetGaugeTextVisible(bool visible)
{
    m_intensity->setTextVisible(visible);
    m_quality->setTextVisible(visible);
}

void ProgramsPage::SetGaugeColour(const QString& colour)
{
    // A style sheet is parsed and the gauges re-polished on every change:
    // only a new colour is worth it (signal reports come many times a second).
    if (colour == m_gaugeColour) {
        return;
    }
    m_gaugeColour = colour;
    m_intensity->setStyleSheet(gaugeStyle(colour));
    m_quality->setStyleSheet(gaugeStyle(colour));
}

void ProgramsPage::PlaceCheckBoxes(int queryLeft, int showRadioLeft)
{
    const int height = m_query->sizeHint().height();
    m_query->setGeometry(queryLeft, kCheckBoxTop, kCheckBoxWidth, height);
    m_showRadio->setGeometry(showRadioLeft, kCheckBoxTop,
                             std::max(kCheckBoxWidth, m_showRadio->sizeHint().width()), height);
}

} // namespace vireo::ui
