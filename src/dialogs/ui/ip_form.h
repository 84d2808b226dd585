#pragma once

#include "dialogs/network_fields.h"
#include "dialogs/ui/ip_form_device.h"

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vireo::ui {

// TIPForm: the name and network address of a device, in three modes. Made
// once and reused, so fields a mode does not fill keep what they last held.
class IPForm : public QDialog
{
    Q_OBJECT
public:
    enum Mode {
        New = 1,    // a new device window
        Config = 2, // the network settings inside a connected device
        Modify = 3, // the address and name the manager reaches a device by
        NoMode = 4,
    };

    explicit IPForm(QWidget* parent = nullptr);

    // Enables the fields, sets the title and fills the fields for `mode`.
    // `device` is the device Config mode reads and sends to.
    void PrepareIPForm(Mode mode, IpFormDevice* device);
    // The address field as "a.b.c.d" (groups without digits read as 0);
    // returns whether the last use ended with Ok.
    bool GetIPFormAddress(std::string& text) const;
    // The name field, unchanged (GBK bytes).
    std::string GetIPFormName() const;

    Mode CurrentMode() const { return m_mode; }
    // The device of the use under way (Config and Modify), or null.
    const IpFormDevice* Device() const { return m_device; }
    bool Accepted() const { return m_accepted; }
    int DigitCount() const { return m_filter.DigitCount(); }

    // Cancel, Escape and the close box all end a use without accepting it.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void okClicked();
    // The group of an address field that cannot be accepted, or -1.
    int badGroup(QLineEdit* field, bool requireDigits) const;
    void markBadGroup(QLineEdit* field, int start, int length);

    QLineEdit* m_name = nullptr;
    QLineEdit* m_ip = nullptr;
    QLineEdit* m_mask = nullptr;
    QLineEdit* m_mac = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_ipLabel = nullptr;
    QLabel* m_maskLabel = nullptr;
    QLabel* m_macLabel = nullptr;

    Mode m_mode = NoMode;
    bool m_accepted = false;
    IpFormDevice* m_device = nullptr;
    DottedKeyFilter m_filter;
};

} // namespace vireo::ui
