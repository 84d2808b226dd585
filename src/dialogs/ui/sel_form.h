#pragma once

#include <QDialog>
#include <utility>
#include <vector>

class QGroupBox;
class QPushButton;
class QRadioButton;

namespace vireo::ui {

// TSelForm: what a firmware upgrade replaces, one radio button per upgrade
// type. Made once and reused. Each use starts on "Loader + Main + FPGA" with
// no type chosen (500); only Ok chooses the checked type. There is no Cancel:
// Escape and the close box leave the use without a type.
class SelForm : public QDialog
{
    Q_OBJECT
public:
    explicit SelForm(QWidget* parent = nullptr);

    // Runs the dialog modally (through the modal seam) and returns the type
    // chosen, 500 for none.
    int ChooseUpgradeType();
    // The result of the last use: an upgrade type code, or 500.
    int GetUpgradeType() const { return m_type; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // "Loader + Main + FPGA" checked and no type chosen.
    void reset();
    void Btn_okClick();

    QGroupBox* m_group = nullptr;
    QPushButton* m_ok = nullptr;
    std::vector<std::pair<QRadioButton*, int>> m_buttons; // top to bottom, with their codes
    QRadioButton* m_default = nullptr;
    int m_type;
};

} // namespace vireo::ui
