#include "dialogs/ui/sel_form.h"

#include "ui/gbk_text.h"
#include "ui/message_box.h"
#include "upgrade/upgrade_frame.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vireo::ui {

namespace {

constexpr int kRowOk = 3;
constexpr int kRowTitle = 5;

struct TypeButton
{
    const char* name;
    const char* caption; // fixed, not translated
    int code;
};

namespace type = upgrade::upgrade_type;
constexpr TypeButton kTypeButtons[] = {
    {"RBtn_mian", "Main", type::Main},
    {"RBtn_LMain", "Loader + Main", type::LoaderMain},
    {"RBtn_LMainF", "Loader + Main + FPGA", type::LoaderMainFpga},
    {"RBtn_Loader", "Loader", type::Loader},
    {"RBtn_FPGA", "FPGA", type::Fpga},
    {"RBtn_DB", "DataBase", type::DataBase},
    {"RBtn_Param", "Parameter", type::Parameter},
    {"RBtn_Key", "Key", type::Key},
    {"RBtn_Data", "Data", type::Data},
};

} // namespace

SelForm::SelForm(QWidget* parent) : QDialog(parent), m_type(upgrade::upgrade_type::None)
{
    setObjectName(QStringLiteral("TSelForm"));
    setModal(true);
    setWindowTitle(LangText(kRowTitle));

    m_group = new QGroupBox(LangText(kRowTitle), this);
    m_group->setObjectName(QStringLiteral("GroupBox_type"));
    auto* buttons = new QVBoxLayout(m_group);
    for (const TypeButton& b : kTypeButtons) {
        auto* button = new QRadioButton(QString::fromLatin1(b.caption), m_group);
        button->setObjectName(QString::fromLatin1(b.name));
        buttons->addWidget(button);
        m_buttons.emplace_back(button, b.code);
        if (b.code == upgrade::upgrade_type::LoaderMainFpga) {
            m_default = button;
        }
    }

    m_ok = new QPushButton(LangText(kRowOk), this);
    m_ok->setObjectName(QStringLiteral("Btn_ok"));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &SelForm::Btn_okClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_group);
    layout->addWidget(m_ok, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    reset();
}

int SelForm::ChooseUpgradeType()
{
    // A scripted use never shows the dialog: start it fresh here as well.
    reset();
    ModalSeam::Exec(this);
    return m_type;
}

void SelForm::showEvent(QShowEvent* event)
{
    reset();
    QDialog::showEvent(event);
}

void SelForm::reset()
{
    m_default->setChecked(true);
    m_type = upgrade::upgrade_type::None;
}

void SelForm::Btn_okClick()
{
    for (const auto& [button, code] : m_buttons) {
        if (button->isChecked()) {
            m_type = code;
        }
    }
    accept();
}

} // namespace vireo::ui
