#include "dialogs/ui/ip_form.h"

#include "device/address_change.h"
#include "ui/gbk_text.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

namespace vireo::ui {

namespace {

const QString kAddressMask = QStringLiteral("000.000.000.000; ");
const QString kMacMask = QStringLiteral(">nn.nn.nn.nn.nn.nn; ");
constexpr int kAddressLength = 15;
constexpr int kMacLength = 17;
constexpr int kNameLength = 20;
constexpr int kAddressGroupStride = 4;

// A name fits the settings file (at most 20 GBK bytes) and holds no '.' or
// ':', which would read as part of the address in a caption.
class NameValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        if (input.contains(QLatin1Char('.')) || input.contains(QLatin1Char(':'))) {
            return Invalid;
        }
        return GbkLength(input) <= kNameLength ? Acceptable : Invalid;
    }
};

QLineEdit* maskedEdit(const char* name, const QString& mask, int length, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setInputMask(mask);
    edit->setMaxLength(length);
    edit->setText(QString());
    return edit;
}

QLabel* label(const char* name, QWidget* parent)
{
    auto* text = new QLabel(parent);
    text->setObjectName(QString::fromLatin1(name));
    return text;
}

std::string fieldText(const QLineEdit* field)
{
    return field->displayText().toStdString();
}

DottedKeyFilter::Key classify(const QKeyEvent* key)
{
    if (key->key() == Qt::Key_Backspace) {
        return DottedKeyFilter::Key::Backspace;
    }
    if (key->key() == Qt::Key_Escape) {
        return DottedKeyFilter::Key::Escape;
    }
    const QString text = key->text();
    if (text.size() == 1 && text.at(0).isDigit() && text.at(0).unicode() < 128) {
        return DottedKeyFilter::Key::Digit;
    }
    if (text == QLatin1String(".")) {
        return DottedKeyFilter::Key::Dot;
    }
    return DottedKeyFilter::Key::Other;
}

} // namespace

IPForm::IPForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TIPForm"));
    setModal(true);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("Edit_name"));
    m_name->setMaxLength(kNameLength);
    m_name->setValidator(new NameValidator(m_name));
    m_ip = maskedEdit("MaskEdit_ip", kAddressMask, kAddressLength, this);
    m_mask = maskedEdit("MaskEdit_submask", kAddressMask, kAddressLength, this);
    m_mac = maskedEdit("MaskEdit_mac", kMacMask, kMacLength, this);
    for (QLineEdit* field : {m_ip, m_mask}) {
        field->installEventFilter(this);
    }

    m_nameLabel = label("StaticText_name", this);
    m_ipLabel = label("StaticText_ip", this);
    m_maskLabel = label("StaticText_sub", this);
    m_macLabel = label("StaticText_mac", this);

    m_ok = new QPushButton(this);
    m_ok->setObjectName(QStringLiteral("Btn_ok"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("Btn_cancel"));
    connect(m_ok, &QPushButton::clicked, this, &IPForm::okClicked);
    connect(m_cancel, &QPushButton::clicked, this, &IPForm::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_nameLabel, 0, 0);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(m_ipLabel, 1, 0);
    grid->addWidget(m_ip, 1, 1);
    grid->addWidget(m_maskLabel, 2, 0);
    grid->addWidget(m_mask, 2, 1);
    grid->addWidget(m_macLabel, 3, 0);
    grid->addWidget(m_mac, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    grid->addLayout(buttons, 4, 0, 1, 2);
    setTabOrder(m_name, m_ip);
    setTabOrder(m_ip, m_mask);
    setTabOrder(m_mask, m_mac);

    m_ok->setText(LangText(3));
    m_cancel->setText(LangText(4));
    m_nameLabel->setText(LangText(30));
    m_ipLabel->setText(LangText(31));
    m_maskLabel->setText(LangText(32));
    m_macLabel->setText(LangText(33));
}

void IPForm::PrepareIPForm(Mode mode, IpFormDevice* device)
{
    for (QLineEdit* field : {m_name, m_ip, m_mask, m_mac}) {
        field->setEnabled(true);
    }
    m_mode = mode;
    m_device = device;
    auto blankAndDisable = [this] {
        m_mask->setText(QString());
        m_mask->setEnabled(false);
        m_mac->setText(QString());
        m_mac->setEnabled(false);
    };
    switch (mode) {
    case New:
        setWindowTitle(LangText(204));
        blankAndDisable();
        break;
    case Modify:
        setWindowTitle(LangText(205));
        if (device != nullptr) {
            const std::string caption = device->Caption();
            m_name->setText(FromGbk(CaptionName(caption)));
            m_ip->setText(QString::fromStdString(caption.substr(0, caption.find(':'))));
        }
        blankAndDisable();
        break;
    case Config:
        setWindowTitle(LangText(206));
        if (device != nullptr) {
            m_name->setText(FromGbk(CaptionName(device->Caption())));
            if (const auto record = device->SystemRecord()) {
                m_ip->setText(QString::fromStdString(FormatAddressField(record->data() + 4)));
                m_mask->setText(QString::fromStdString(FormatAddressField(record->data() + 8)));
                m_mac->setText(QString::fromStdString(FormatMacField(record->data() + 12)));
            }
        }
        break;
    case NoMode:
        break;
    }
}

bool IPForm::GetIPFormAddress(std::string& text) const
{
    text = NormaliseAddressField(fieldText(m_ip));
    return m_accepted;
}

std::string IPForm::GetIPFormName() const
{
    return ToGbk(m_name->text());
}

int IPForm::badGroup(QLineEdit* field, bool requireDigits) const
{
    return FirstBadAddressGroup(fieldText(field), requireDigits);
}

void IPForm::markBadGroup(QLineEdit* field, int start, int length)
{
    QApplication::beep();
    field->setFocus();
    field->setSelection(start, length);
}

void IPForm::okClicked()
{
    // A group above 255 is no address; in Config mode every group must also
    // hold digits, and every MAC group two hexadecimal digits, as the device
    // takes the bytes as they stand. The dialog stays open on the group to
    // correct.
    const bool config = m_mode == Config;
    for (QLineEdit* field : {m_ip, m_mask}) {
        if (field == m_mask && !config) {
            continue;
        }
        const int group = badGroup(field, config);
        if (group >= 0) {
            markBadGroup(field, group * kAddressGroupStride, 3);
            return;
        }
    }
    // The MAC too: a group without its two hexadecimal digits would write 0
    // into the device's MAC.
    if (config) {
        const int group = FirstBadMacGroup(fieldText(m_mac));
        if (group >= 0) {
            markBadGroup(m_mac, group * static_cast<int>(kMacGroupStride), 2);
            return;
        }
    }

    m_accepted = true;
    if (config && m_device != nullptr) {
        if (const auto stored = m_device->SystemRecord()) {
            const SystemRecordBytes record =
                BuildNetworkRecord(*stored, fieldText(m_ip), fieldText(m_mask), fieldText(m_mac));
            if (NetworkSettingsDiffer(record, *stored)) {
                m_device->SendSystemInfo(record);
            }
        }
    }
    m_mode = NoMode;
    m_device = nullptr;
    accept();
}

void IPForm::reject()
{
    m_accepted = false;
    m_mode = NoMode;
    m_device = nullptr;
    QDialog::reject();
}

bool IPForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ip || watched == m_mask) {
        if (event->type() == QEvent::FocusIn) {
            m_filter.Reset();
        } else if (event->type() == QEvent::KeyPress) {
            if (!m_filter.Accept(classify(static_cast<QKeyEvent*>(event)))) {
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void IPForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_ip->setFocus();
}

} // namespace vireo::ui
