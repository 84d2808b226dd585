#include "device/ui/system_page.h"

#include "app/ui/gbk_text.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vireo::ui {

namespace {

constexpr int kVolumeMax = 15;

// Remembers the language row of a control's caption.
template <typename W> W* named(W* widget, const char* name, int row = -1)
{
    widget->setObjectName(QString::fromLatin1(name));
    if (row >= 0) {
        widget->setProperty("langRow", row);
    }
    return widget;
}

QGroupBox* group(const char* name, int row, QWidget* parent)
{
    auto* box = named(new QGroupBox(parent), name, row);
    new QVBoxLayout(box);
    return box;
}

} // namespace

SystemPage::SystemPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet_system"));
    auto* grid = new QGridLayout(this);

    QGroupBox* basic = group("GroupBox_basic_set", 99, this);
    auto* basicGrid = new QGridLayout;
    basic->layout()->addItem(basicGrid);
    QGroupBox* tsl = group("GroupBox_tsl", 102, basic);
    tsl->layout()->addWidget(named(new QComboBox(tsl), "ComboBox_tsl"));
    QGroupBox* tso = group("GroupBox_tso", 103, basic);
    tso->layout()->addWidget(named(new QRadioButton(tso), "RBtn_tsout_orig", 115));
    tso->layout()->addWidget(named(new QRadioButton(tso), "RBtn_tsout_descr", 116));
    tso->layout()->addWidget(named(new QRadioButton(tso), "RBtn_tsout_off", 117));
    QGroupBox* lang = group("GroupBox_lang", 104, basic);
    lang->layout()->addWidget(named(new QRadioButton(lang), "RBtn_lang_eng", 118));
    lang->layout()->addWidget(named(new QRadioButton(lang), "RBtn_lang_chi", 119));
    QGroupBox* ratio = group("GroupBox_ratio", 105, basic);
    ratio->layout()->addWidget(named(new QComboBox(ratio), "ComboBox_ratio"));
    QGroupBox* osd = group("GroupBox_osd", 106, basic);
    osd->layout()->addWidget(named(new QComboBox(osd), "ComboBox_osd"));
    QGroupBox* poll = group("GroupBox_que", 107, basic);
    poll->layout()->addWidget(named(new QComboBox(poll), "ComboBox_que"));
    basicGrid->addWidget(tsl, 0, 0);
    basicGrid->addWidget(tso, 0, 1);
    basicGrid->addWidget(lang, 0, 2);
    basicGrid->addWidget(ratio, 1, 0);
    basicGrid->addWidget(osd, 1, 1);
    basicGrid->addWidget(poll, 1, 2);

    QGroupBox* volume = group("GroupBox_volumn_set", 100, this);
    m_volume = named(new QProgressBar(volume), "CGauge_vol");
    m_volume->setRange(0, kVolumeMax);
    m_volume->setValue(0);
    m_volume->setFormat(QStringLiteral("%v"));
    volume->layout()->addWidget(m_volume);
    volume->layout()->addWidget(named(new QPushButton(volume), "Btn_silence", 110));

    QGroupBox* signal = group("GroupBox_signal", 101, this);
    m_signal = named(new QComboBox(signal), "ComboBox_signal");
    signal->layout()->addWidget(m_signal);

    QGroupBox* reset = group("GroupBox_reset", 108, this);
    reset->layout()->addWidget(named(new QPushButton(reset), "BitBtn_reset", 113));
    reset->layout()->addWidget(named(new QPushButton(reset), "BitBtn_restart", 210));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(named(new QPushButton(this), "Btn_sys_ok", 114));
    buttons->addWidget(named(new QPushButton(this), "Btn_sys_cancel", 4));

    grid->addWidget(basic, 0, 0, 3, 1);
    grid->addWidget(volume, 0, 1);
    grid->addWidget(signal, 1, 1);
    grid->addWidget(reset, 2, 1);
    grid->addLayout(buttons, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);

    for (QWidget* control : findChildren<QWidget*>()) {
        if (qobject_cast<QGroupBox*>(control) == nullptr && control != m_volume) {
            control->setEnabled(false);
        }
    }
}

void SystemPage::ApplyCaptions()
{
    for (QWidget* control : findChildren<QWidget*>()) {
        const QVariant row = control->property("langRow");
        if (!row.isValid()) {
            continue;
        }
        if (auto* box = qobject_cast<QGroupBox*>(control)) {
            box->setTitle(LangText(row.toInt()));
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            button->setText(LangText(row.toInt()));
        }
    }
    m_signal->clear();
    m_signal->addItem(LangText(111));
    m_signal->addItem(LangText(112));
}

} // namespace vireo::ui
