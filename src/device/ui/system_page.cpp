#include "device/ui/system_page.h"

#include "database/system_settings.h"
#include "device/device_content.h"
#include "lang/display_text.h"
#include "lang/language_table.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vireo::ui {

namespace {

constexpr int kPollingMax = 99999;
constexpr int kRowResetNow = 185;     // "Reset now?"
constexpr int kRowSourceChange = 186; // "Change signal source?"
constexpr int kRowRebootNow = 211;    // "Reboot now?"

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

QString volumeStyle(const QColor& colour)
{
    return QStringLiteral("QProgressBar { border: 1px solid #5a6270; background: "
                          "#f4f4f4; } QProgressBar::chunk { background: %1; }")
        .arg(colour.name());
}

} // namespace

QRadioButton* SystemPage::radio(const char* name, int row, QWidget* group)
{
    auto* button = named(new QRadioButton(group), name, row);
    group->layout()->addWidget(button);
    return button;
}

SystemPage::SystemPage(QWidget* parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("TabSheet_system"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    auto* content = new QWidget;
    auto* grid = new QGridLayout(content);

    QGroupBox* basic = group("GroupBox_basic_set", 99, content);
    auto* basicGrid = new QGridLayout;
    basic->layout()->addItem(basicGrid);
    QGroupBox* tsl = group("GroupBox_tsl", 102, basic);
    m_length188 = radio("RBtn_legth_188", -1, tsl);
    m_length204 = radio("RBtn_legth_204", -1, tsl);
    m_length188->setText(QStringLiteral("188"));
    m_length204->setText(QStringLiteral("204"));
    QGroupBox* tso = group("GroupBox_tso", 103, basic);
    m_tsOriginal = radio("RBtn_tsout_orig", 115, tso);
    m_tsDescrambled = radio("RBtn_tsout_descr", 116, tso);
    m_tsOff = radio("RBtn_tsout_off", 117, tso);
    QGroupBox* lang = group("GroupBox_lang", 104, basic);
    m_english = radio("RBtn_lang_eng", 118, lang);
    m_chinese = radio("RBtn_lang_chi", 119, lang);
    QGroupBox* ratio = group("GroupBox_ratio", 105, basic);
    m_ratio4To3 = radio("Rbtn_ratio_4_3", -1, ratio);
    m_ratio16To9 = radio("Rbtn_ratio_16_9", -1, ratio);
    m_ratio4To3->setText(QStringLiteral("4:3"));
    m_ratio16To9->setText(QStringLiteral("16:9"));
    QGroupBox* osd = group("GroupBox_osd", 106, basic);
    const char* osdNames[4] = {"Rbtn_osd_18_5", "Rbtn_osd_18_6", "Rbtn_osd_72_5", "Rbtn_osd_72_6"};
    const char* osdTexts[4] = {"1080I@50Hz", "1080I@60Hz", "720P@50Hz", "720P@60Hz"};
    for (int i = 0; i < 4; ++i) {
        m_osd[i] = radio(osdNames[i], -1, osd);
        m_osd[i]->setText(QString::fromLatin1(osdTexts[i]));
    }
    QGroupBox* poll = group("GroupBox_que", 107, basic);
    m_polling = named(new QSpinBox(poll), "CSpinEdit_poll");
    m_polling->setRange(0, kPollingMax);
    poll->layout()->addWidget(m_polling);
    basicGrid->addWidget(tsl, 0, 0);
    basicGrid->addWidget(tso, 0, 1);
    basicGrid->addWidget(lang, 0, 2);
    basicGrid->addWidget(ratio, 1, 0);
    basicGrid->addWidget(osd, 1, 1);
    basicGrid->addWidget(poll, 1, 2);

    QGroupBox* volume = group("GroupBox_volumn_set", 100, content);
    m_volume = named(new QProgressBar(volume), "CGauge_vol");
    m_volume->setRange(0, kVolumeMax);
    m_volume->setValue(0);
    m_volume->setTextVisible(false);
    m_volume->setStyleSheet(volumeStyle(m_volumeColour));
    volume->layout()->addWidget(m_volume);
    auto* volumeButtons = new QHBoxLayout;
    auto* down = named(new QPushButton(QStringLiteral("－"), volume), "Btn_vol_dec");
    auto* up = named(new QPushButton(QStringLiteral("+"), volume), "Btn_vol_inc");
    m_silence = named(new QPushButton(volume), "Btn_silence", 110);
    volumeButtons->addWidget(down);
    volumeButtons->addWidget(up);
    volumeButtons->addWidget(m_silence);
    static_cast<QVBoxLayout*>(volume->layout())->addLayout(volumeButtons);

    QGroupBox* signal = group("GroupBox_signal", 101, content);
    m_signal = named(new QComboBox(signal), "ComboBox_signal");
    m_signal->setEnabled(false); // until the device has reported its settings
    signal->layout()->addWidget(m_signal);

    QGroupBox* reset = group("GroupBox_reset", 108, content);
    auto* factory = named(new QPushButton(reset), "BitBtn_reset", 113);
    auto* reboot = named(new QPushButton(reset), "BitBtn_restart", 210);
    reset->layout()->addWidget(factory);
    reset->layout()->addWidget(reboot);

    auto* buttons = new QHBoxLayout;
    auto* apply = named(new QPushButton(content), "Btn_sys_ok", 114);
    auto* cancel = named(new QPushButton(content), "Btn_sys_cancel", 4);
    buttons->addStretch(1);
    buttons->addWidget(apply);
    buttons->addWidget(cancel);

    grid->addWidget(basic, 0, 0, 3, 1);
    grid->addWidget(volume, 0, 1);
    grid->addWidget(signal, 1, 1);
    grid->addWidget(reset, 2, 1);
    grid->addLayout(buttons, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);
    setWidget(content);

    connect(apply, &QPushButton::clicked, this, &SystemPage::onApply);
    connect(cancel, &QPushButton::clicked, this, &SystemPage::onCancel);
    connect(up, &QPushButton::clicked, this, &SystemPage::onVolumeUp);
    connect(down, &QPushButton::clicked, this, &SystemPage::onVolumeDown);
    connect(m_silence, &QPushButton::clicked, this, &SystemPage::onSilence);
    connect(factory, &QPushButton::clicked, this, &SystemPage::onReset);
    connect(reboot, &QPushButton::clicked, this, &SystemPage::onReboot);
    // Only the operator's choice asks; the device's report moves the list
    // without a question.
    connect(m_signal, &QComboBox::activated, this, &SystemPage::onSignalChosen);
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

// --- showing ---

int SystemPage::checkedIndex(const std::initializer_list<QRadioButton*>& buttons)
{
    int index = 0;
    for (QRadioButton* button : buttons) {
        if (button->isChecked()) {
            return index;
        }
        ++index;
    }
    return -1;
}

void SystemPage::select(const std::initializer_list<QRadioButton*>& buttons, int index)
{
    int at = 0;
    for (QRadioButton* button : buttons) {
        // An exclusive radio button cannot be unchecked directly.
        button->setAutoExclusive(false);
        button->setChecked(at == index);
        button->setAutoExclusive(true);
        ++at;
    }
}

void SystemPage::ShowSettings(const SystemSettings& s)
{
    select({m_length188, m_length204}, s.tsLength204 ? 1 : 0);
    select({m_tsDescrambled, m_tsOriginal, m_tsOff}, s.tsOutput);
    select({m_chinese, m_english}, s.language);
    select({m_ratio16To9, m_ratio4To3}, s.ratio4To3 ? 1 : 0);
    select({m_osd[0], m_osd[1], m_osd[2], m_osd[3]}, s.outputType);
    m_polling->setValue(s.polling);
}

SystemSettings SystemPage::Settings() const
{
    SystemSettings s;
    s.tsLength204 = m_length204->isChecked();
    s.tsOutput = checkedIndex({m_tsDescrambled, m_tsOriginal, m_tsOff});
    s.language = checkedIndex({m_chinese, m_english});
    s.ratio4To3 = m_ratio4To3->isChecked();
    s.outputType = checkedIndex({m_osd[0], m_osd[1], m_osd[2], m_osd[3]});
    s.polling = m_polling->value();
    return s;
}

void SystemPage::ShowVolume(const VolumeDisplay& volume)
{
    m_silence->setText(LangText(volume.captionRow));
    m_volumeColour = QColor(volume.red, volume.green, volume.blue);
    m_volume->setStyleSheet(volumeStyle(m_volumeColour));
    m_volume->setValue(volume.volume);
}

// --- commands ---

bool SystemPage::commandsAllowed() const
{
    return m_host != nullptr && m_host->SystemCommandsAllowed();
}

bool SystemPage::confirm(int row)
{
    const QString text = FromGbk(DisplayText(m_host->Caption()) + GetLangText(row));
    return MessageBox::Ask(this, text, QMessageBox::Ok | QMessageBox::Cancel,
                           QMessageBox::Cancel) == QMessageBox::Ok;
}

void SystemPage::onApply()
{
    if (commandsAllowed()) {
        m_host->Content().ApplySystemSettings(Settings());
    }
}

void SystemPage::onCancel()
{
    if (commandsAllowed()) {
        m_host->Content().RedisplaySystemSettings();
    }
}

// The gauge moves only when the device reports the new volume.
void SystemPage::onVolumeUp()
{
    if (commandsAllowed() && m_volume->value() < m_volume->maximum()) {
        m_host->Content().SendVolumeCommand(volume_action::Up);
    }
}

void SystemPage::onVolumeDown()
{
    if (commandsAllowed() && m_volume->value() > m_volume->minimum()) {
        m_host->Content().SendVolumeCommand(volume_action::Down);
    }
}

void SystemPage::onSilence()
{
    if (!commandsAllowed()) {
        return;
    }
    // Both languages start the caption with the letter of what it offers:
    // 'S' silence, 'V' sound on.
    const bool offersSilence = m_silence->text().startsWith(QLatin1Char('S'));
    m_host->Content().SendVolumeCommand(offersSilence ? volume_action::Mute
                                                      : volume_action::SoundOn);
}

void SystemPage::onReset()
{
    if (commandsAllowed() && confirm(kRowResetNow)) {
        m_host->Content().FactoryReset();
    }
}

void SystemPage::onReboot()
{
    if (commandsAllowed() && confirm(kRowRebootNow)) {
        m_host->SendReboot();
    }
}

void SystemPage::onSignalChosen(int index)
{
    if (m_host == nullptr) {
        return;
    }
    const int current = m_host->SignalSourceIndex();
    if (index == current) {
        return;
    }
    if (confirm(kRowSourceChange)) {
        m_host->Content().ChangeSignalSource(index);
    } else if (current == 0 || current == 1) {
        // The list keeps showing what the device uses until it reports another.
        m_signal->setCurrentIndex(current);
    }
}

} // namespace vireo::ui
