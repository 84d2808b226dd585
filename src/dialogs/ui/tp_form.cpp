#include "dialogs/ui/tp_form.h"

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

// Language rows of the captions and list items.
constexpr int kRowOk = 3;
constexpr int kRowCancel = 4;
constexpr int kRowTitle = 6;
constexpr int kRowFrequency = 7; // the six labels, top to bottom, at 7 to 12
constexpr int kRowVer = 13;
constexpr int kRowHor = 14;
constexpr int kRowAuto = 15;
constexpr int kRowClose = 16;
constexpr int kRowOpen = 17;

constexpr int kQpskS = 2; // the list whose first item is "Auto"

// Shown by a FEC list without a selection: the stored FEC byte or
// modulation had no item.
const char* const kWrongValue = "Wrong Value!";

const char* const kFecListNames[kModulationCount] = {"Cob_FEC_s2_q", "Cob_FEC_s2_8", "Cob_FEC_s_q",
                                                     "Cob_FEC_s_8"};

QComboBox* list(const char* name, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    return combo;
}

void addTexts(QComboBox* combo, std::span<const char* const> texts)
{
    for (const char* text : texts) {
        combo->addItem(QString::fromLatin1(text));
    }
}

QLineEdit* edit(const char* name, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

} // namespace

TpForm::TpForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TForm_tpinfo"));
    setModal(true);
    setWindowTitle(LangText(kRowTitle));

    m_frequency = edit("Edt_fre", this);
    m_polarisation = list("Cob_pol", this);
    m_polarisation->addItem(LangText(kRowVer));
    m_polarisation->addItem(LangText(kRowHor));
    m_symbolRate = edit("Edt_sym", this);
    m_pilot = list("Cob_Pilot", this);
    m_pilot->addItem(LangText(kRowClose));
    m_pilot->addItem(LangText(kRowOpen));
    m_modulation = list("Cob_Modulat", this);
    addTexts(m_modulation, ModulationTexts());
    for (int m = 0; m < kModulationCount; ++m) {
        QComboBox* fec = list(kFecListNames[m], this);
        addTexts(fec, FecTexts(m));
        fec->setPlaceholderText(QString::fromLatin1(kWrongValue));
        m_fec[static_cast<size_t>(m)] = fec;
    }
    m_fec[kQpskS]->setItemText(0, LangText(kRowAuto));

    m_ok = new QPushButton(LangText(kRowOk), this);
    m_ok->setObjectName(QStringLiteral("Btn_ok"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(LangText(kRowCancel), this);
    m_cancel->setObjectName(QStringLiteral("Btn_cancel"));
    connect(m_ok, &QPushButton::clicked, this, &TpForm::Btn_okClick);
    connect(m_cancel, &QPushButton::clicked, this, &TpForm::reject);
    // Whatever sets the modulation, the FEC list shown follows it.
    connect(m_modulation, &QComboBox::currentIndexChanged, this, &TpForm::Cob_ModulatClick);

    const char* const labels[] = {"StaticText_fre",   "StaticText_pol", "StaticText_sym",
                                  "StaticText_pilot", "StaticText_mod", "StaticText_fec"};
    QWidget* const fields[] = {m_frequency, m_polarisation, m_symbolRate,
                               m_pilot,     m_modulation,   nullptr};
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < 6; ++i) {
        auto* text = new QLabel(LangText(kRowFrequency + i), this);
        text->setObjectName(QString::fromLatin1(labels[i]));
        grid->addWidget(text, i, 0);
        if (fields[i] != nullptr) {
            text->setBuddy(fields[i]);
            grid->addWidget(fields[i], i, 1);
        }
    }
    // The four FEC lists share one place; one at most is shown.
    for (QComboBox* fec : m_fec) {
        grid->addWidget(fec, 5, 1);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    grid->addLayout(buttons, 6, 0, 1, 2);

    Cob_ModulatClick();
}

int TpForm::Init_Form_TpSet(const TpRecord* record, TpFormDevice* device)
{
    if (record == nullptr || device == nullptr) {
        MessageBox::Information(this, QStringLiteral("Init_Form_TpSet(): NO argument!"));
        finish();
        hide();
        return QDialog::Rejected;
    }
    m_device = device;
    m_stored = record->wire;
    m_satIndex = kNoIndex;
    m_mode = TpDialogMode::Modify;
    TpFields fields = readFields();
    FillTpFields(fields, m_stored);
    showFields(fields);
    return ModalSeam::Exec(this);
}

int TpForm::Init_Form_TpAdd(const SatelliteRecord* satellite, TpFormDevice* device)
{
    // A satellite without an index has no transponders to add to.
    if (device == nullptr || satellite == nullptr || satellite->Index() == kNoIndex) {
        MessageBox::Information(this, QStringLiteral("Init_Form_TpAdd(): NO argument!"));
        finish();
        hide();
        return QDialog::Rejected;
    }
    m_device = device;
    m_stored = {};
    m_satIndex = satellite->Index();
    m_mode = TpDialogMode::Add;
    TpFields fields = readFields();
    ResetTpFieldsForAdd(fields);
    showFields(fields);
    return ModalSeam::Exec(this);
}

void TpForm::Cob_ModulatClick()
{
    const int modulation = m_modulation->currentIndex();
    for (int m = 0; m < kModulationCount; ++m) {
        m_fec[static_cast<size_t>(m)]->setVisible(m == modulation);
    }
}

TpFields TpForm::readFields() const
{
    TpFields fields;
    fields.frequency = ToGbk(m_frequency->text());
    fields.symbolRate = ToGbk(m_symbolRate->text());
    fields.polarisation = m_polarisation->currentIndex();
    fields.pilot = m_pilot->currentIndex();
    fields.modulation = m_modulation->currentIndex();
    for (size_t m = 0; m < m_fec.size(); ++m) {
        fields.fec[m] = m_fec[m]->currentIndex();
    }
    return fields;
}

void TpForm::showFields(const TpFields& fields)
{
    m_frequency->setText(FromGbk(fields.frequency));
    m_symbolRate->setText(FromGbk(fields.symbolRate));
    m_polarisation->setCurrentIndex(fields.polarisation);
    m_pilot->setCurrentIndex(fields.pilot);
    for (size_t m = 0; m < m_fec.size(); ++m) {
        m_fec[m]->setCurrentIndex(fields.fec[m]);
    }
    m_modulation->setCurrentIndex(fields.modulation);
    Cob_ModulatClick();
}

void TpForm::refuse(QLineEdit* field, WordFault fault)
{
    MessageBox::Information(this, FromGbk(WordFaultMessage(fault, ToGbk(field->text()))));
    field->setFocus();
    field->selectAll();
}

void TpForm::Btn_okClick()
{
    if (m_mode == TpDialogMode::Idle || m_device == nullptr) {
        reject();
        return;
    }
    if (m_mode == TpDialogMode::Modify) {
        // The request carries the links the list holds now, not those of
        // when the dialog opened; the stored record itself is never written.
        if (const auto held = m_device->HeldTp(m_stored[0])) {
            m_stored = *held;
        }
    }
    const TpRequest request =
        BuildTpRequest(m_mode, m_stored, static_cast<uint8_t>(m_satIndex), readFields());
    if (request.badField != TpField::None) {
        refuse(request.badField == TpField::Frequency ? m_frequency : m_symbolRate, request.fault);
        return;
    }
    if (request.incomplete) {
        // The operator is asked to correct the entries, so they stay.
        MessageBox::Information(this, QString::fromLatin1(kTpCheckMessage));
        return;
    }
    const uint8_t code = m_mode == TpDialogMode::Modify ? msg::ModifyTp : msg::AddTp;
    m_device->SendRequest(code, 0, 0, request.record);
    finish();
    accept();
}

void TpForm::reject()
{
    finish();
    QDialog::reject();
}

void TpForm::finish()
{
    m_device = nullptr;
    m_stored = {};
    m_satIndex = kNoIndex;
    m_mode = TpDialogMode::Idle;
}

} // namespace vireo::ui
