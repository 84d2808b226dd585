#pragma once

#include "database/records.h"
#include "dialogs/tp_fields.h"
#include "dialogs/ui/form_device.h"

#include <QDialog>
#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vireo::ui {

// TForm_tpinfo: a transponder's tuning parameters, for a transponder the
// device has ("Modify TP") or a new one under a satellite ("Add TP"). Made
// once and reused; each modulation has its own FEC list, and every list
// keeps its selection between uses. Ok hands ModifyTp or AddTp to the device
// and closes; entries that cannot be sent keep the dialog open.
class TpForm : public QDialog
{
    Q_OBJECT
public:
    explicit TpForm(QWidget* parent = nullptr);

    // Shows the dialog modally for `record` of `device`; the record's bytes
    // are copied (and read again from the device's list, HeldTp, when Ok is
    // pressed) and the stored record is never written. Without either
    // argument only a message is shown. Returns the dialog's result
    // (Accepted when a request was sent).
    int Init_Form_TpSet(const TpRecord* record, TpFormDevice* device);
    // Shows the dialog modally for a new transponder under `satellite`.
    int Init_Form_TpAdd(const SatelliteRecord* satellite, TpFormDevice* device);

    // The modulation list was chosen from: only its FEC list is shown, with
    // the selection it had.
    void Cob_ModulatClick();

    TpDialogMode Mode() const { return m_mode; }
    // The owning satellite of a new transponder; 255 when not adding.
    int SatelliteIndex() const { return m_satIndex; }

    // Cancel, Escape and the close box: nothing is sent.
    void reject() override;

private:
    void Btn_okClick();
    TpFields readFields() const;
    void showFields(const TpFields& fields);
    void refuse(QLineEdit* field, WordFault fault);
    void finish();

    QLineEdit* m_frequency = nullptr;
    QComboBox* m_polarisation = nullptr;
    QLineEdit* m_symbolRate = nullptr;
    QComboBox* m_pilot = nullptr;
    QComboBox* m_modulation = nullptr;
    std::array<QComboBox*, kModulationCount> m_fec{};
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;

    TpDialogMode m_mode = TpDialogMode::Idle;
    TpFormDevice* m_device = nullptr;
    TpWire m_stored{};
    int m_satIndex = kNoIndex;
};

} // namespace vireo::ui
