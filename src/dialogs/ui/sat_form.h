#pragma once

#include "database/records.h"
#include "dialogs/satellite_fields.h"
#include "dialogs/ui/form_device.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vireo::ui {

// TForm_satinfo: a satellite's LNB settings and name, for a satellite the
// device has ("LNB Set") or a new one ("Add Satellite"). Made once and
// reused. Ok hands SetSatellite or AddSatellite to the device and closes; an
// entry that cannot be sent keeps the dialog open on it.
class SatForm : public QDialog
{
    Q_OBJECT
public:
    explicit SatForm(QWidget* parent = nullptr);

    // Shows the dialog modally for `record` of `device`; the record's bytes
    // are copied, so it need not outlive the call, and read again from the
    // device's list (HeldSatellite) when Ok is pressed. Without either argument
    // only a message is shown. Returns the dialog's result (Accepted when a
    // request was sent).
    int Init_Form_SatSet(const SatelliteRecord* record, SatFormDevice* device);
    // Shows the dialog modally for a new satellite of `device`.
    int Init_Form_SatAdd(SatFormDevice* device);

    SatDialogMode Mode() const { return m_mode; }

    // Cancel, Escape and the close box: nothing is sent.
    void reject() override;

private:
    void Btn_SatInfo_okClick();
    SatelliteFields readFields() const;
    void showFields(const SatelliteFields& fields);
    void refuse(QLineEdit* field, WordFault fault);
    void finish();

    QLineEdit* m_lowLo = nullptr;
    QLineEdit* m_highLo = nullptr;
    QComboBox* m_lnb = nullptr;
    QComboBox* m_22k = nullptr;
    QComboBox* m_diseqc = nullptr;
    QLineEdit* m_name = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;

    SatDialogMode m_mode = SatDialogMode::Idle;
    SatFormDevice* m_device = nullptr;
    SatelliteWire m_stored{};
    // The name as put into m_name: read back unchanged it gives these bytes,
    // even where the edit cannot show them exactly (invalid GBK).
    QString m_shownName;
    std::string m_shownNameBytes;
};

} // namespace vireo::ui
