#include "dialogs/ui/sat_form.h"

#include "link/message_code.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vireo::ui {

namespace {

// The form lets a few characters more than the name field holds be typed;
// the name is cut to the field when the record is built.
constexpr int kNameEditLength = 33;

// Language rows of the captions and list items.
constexpr int kRowOk = 3;
constexpr int kRowCancel = 4;
constexpr int kRowAuto = 15;
constexpr int kRowClose = 16;
constexpr int kRowOpen = 17;
constexpr int kRowPortA = 18; // to Port D at 21
constexpr int kRowLowFrequency = 22;
constexpr int kRowSetTitle = 29;
constexpr int kRowAddTitle = 207;

QLineEdit* edit(const char* name, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

QComboBox* list(const char* name, std::initializer_list<int> rows, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    for (const int row : rows) {
        combo->addItem(LangText(row));
    }
    return combo;
}

} // namespace

SatForm::SatForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TForm_satinfo"));
    setModal(true);

    m_lowLo = edit("Edt_lowbenzhen", this);
    m_highLo = edit("Edt_highbenzhen", this);
    m_lnb = list("Cob_lnb", {kRowAuto, kRowClose}, this);
    m_22k = list("Cob_22k", {kRowClose, kRowOpen}, this);
    m_diseqc = list("Cob_diseqc",
                    {kRowClose, kRowPortA, kRowPortA + 1, kRowPortA + 2, kRowPortA + 3}, this);
    m_name = edit("Edit_satname", this);
    m_name->setMaxLength(kNameEditLength);

    m_ok = new QPushButton(LangText(kRowOk), this);
    m_ok->setObjectName(QStringLiteral("Btn_SatInfo_ok"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(LangText(kRowCancel), this);
    m_cancel->setObjectName(QStringLiteral("Btn_SatInfo_cancel"));
    connect(m_ok, &QPushButton::clicked, this, &SatForm::Btn_SatInfo_okClick);
    connect(m_cancel, &QPushButton::clicked, this, &SatForm::reject);

    const char* const labels[] = {"StaticText_lfrq", "StaticText_hfrq", "StaticText_pow",
                                  "StaticText_22k",  "StaticText_dsk",  "StaticText_nam"};
    QWidget* const fields[] = {m_lowLo, m_highLo, m_lnb, m_22k, m_diseqc, m_name};
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < 6; ++i) {
        auto* text = new QLabel(LangText(kRowLowFrequency + i), this);
        text->setObjectName(QString::fromLatin1(labels[i]));
        text->setBuddy(fields[i]);
        grid->addWidget(text, i, 0);
        grid->addWidget(fields[i], i, 1);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    grid->addLayout(buttons, 6, 0, 1, 2);
}

int SatForm::Init_Form_SatSet(const SatelliteRecord* record, SatFormDevice* device)
{
    if (record == nullptr || device == nullptr) {
        MessageBox::Information(this, QStringLiteral("Init_Form_SatSet(): NO argument!"));
        finish();
        hide();
        return QDialog::Rejected;
    }
    setWindowTitle(LangText(kRowSetTitle));
    m_device = device;
    m_stored = record->wire;
    m_mode = SatDialogMode::Set;
    showFields(SatelliteFieldsFromRecord(m_stored));
    return ModalSeam::Exec(this);
}

int SatForm::Init_Form_SatAdd(SatFormDevice* device)
{
    if (device == nullptr) {
        MessageBox::Information(this, QStringLiteral("Init_Form_SatAdd(): NO argument!"));
        finish();
        hide();
        return QDialog::Rejected;
    }
    setWindowTitle(LangText(kRowAddTitle));
    m_device = device;
    m_stored = {};
    m_mode = SatDialogMode::Add;
    showFields(NewSatelliteFields());
    return ModalSeam::Exec(this);
}

SatelliteFields SatForm::readFields() const
{
    SatelliteFields fields;
    fields.highLo = ToGbk(m_highLo->text());
    fields.lowLo = ToGbk(m_lowLo->text());
    fields.lnbPower = m_lnb->currentIndex();
    fields.tone22k = m_22k->currentIndex();
    fields.diseqc = m_diseqc->currentIndex();
    fields.name = m_name->text() == m_shownName ? m_shownNameBytes : ToGbk(m_name->text());
    return fields;
}

void SatForm::showFields(const SatelliteFields& fields)
{
    m_highLo->setText(FromGbk(fields.highLo));
    m_lowLo->setText(FromGbk(fields.lowLo));
    m_lnb->setCurrentIndex(fields.lnbPower);
    m_22k->setCurrentIndex(fields.tone22k);
    m_diseqc->setCurrentIndex(fields.diseqc);
    m_shownNameBytes = fields.name;
    m_shownName = FromGbk(fields.name);
    m_name->setText(m_shownName);
}

void SatForm::refuse(QLineEdit* field, WordFault fault)
{
    MessageBox::Information(this, FromGbk(WordFaultMessage(fault, ToGbk(field->text()))));
    field->setFocus();
    field->selectAll();
}

void SatForm::Btn_SatInfo_okClick()
{
    if (m_mode == SatDialogMode::Idle || m_device == nullptr) {
        reject();
        return;
    }
    if (m_mode == SatDialogMode::Set) {
        // Neighbours may have come or gone while the dialog was open: the
        // request carries the links the list holds now.
        if (const auto held = m_device->HeldSatellite(m_stored[0])) {
            m_stored = *held;
        }
    }
    const SatelliteRequest request = BuildSatelliteRequest(m_mode, m_stored, readFields());
    if (!request.Ok()) {
        refuse(request.badField == SatelliteField::HighLo ? m_highLo : m_lowLo, request.fault);
        return;
    }
    const uint8_t code = m_mode == SatDialogMode::Set ? msg::SetSatellite : msg::AddSatellite;
    m_device->SendRequest(code, 0, 0, request.record);
    finish();
    accept();
}

void SatForm::reject()
{
    finish();
    QDialog::reject();
}

void SatForm::finish()
{
    m_device = nullptr;
    m_stored = {};
    m_mode = SatDialogMode::Idle;
}

} // namespace vireo::ui
