#include "app/ui/login_form.h"

#include "lang/display_text.h"
#include "lang/language_table.h"
#include "ui/gbk_text.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace vireo::ui {

LoginForm::LoginForm(const std::filesystem::path& settingsPath, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TLoginForm"));
    setModal(true);

    m_languageLabel = new QLabel(this);
    m_languageLabel->setObjectName(QStringLiteral("StaticText_lang"));
    m_language = new QComboBox(this);
    m_language->setObjectName(QStringLiteral("ComboBox_login_lang"));
    m_language->addItem(QString::fromUtf8("\xe4\xb8\xad\xe6\x96\x87")); // 中文
    m_language->addItem(QStringLiteral("English"));
    m_machineLabel = new QLabel(this);
    m_machineLabel->setObjectName(QStringLiteral("StaticText_machine"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("ListView_address"));
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ok = new QPushButton(this);
    m_ok->setObjectName(QStringLiteral("Btn_ok"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("Btn_cancel"));
    connect(m_ok, &QPushButton::clicked, this, &LoginForm::okClicked);
    connect(m_cancel, &QPushButton::clicked, this, &LoginForm::cancelClicked);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_languageLabel, 0, 0);
    grid->addWidget(m_language, 0, 1);
    grid->addWidget(m_machineLabel, 1, 0, 1, 2);
    grid->addWidget(m_list, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    grid->addLayout(buttons, 3, 0, 1, 2);
    resize(360, 320);

    fill(ReadSettingsFile(settingsPath));

    // The table starts in the language the file names (Chinese without one).
    SetLanguageFlag(static_cast<uint8_t>(m_language->currentIndex()));
    BuildLanguageTable();
    applyCaptions();
}

void LoginForm::fill(const SettingsReadResult& settings)
{
    m_language->setCurrentIndex(settings.languageIndex == 1 ? 1 : 0);
    m_list->clear();
    m_checkboxes = settings.checkboxes;
    m_list->setUpdatesEnabled(false);
    for (const ListItem& row : settings.items) {
        auto* item = new QListWidgetItem(FromGbk(DisplayText(row.caption)), m_list);
        if (m_checkboxes) {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(row.checked ? Qt::Checked : Qt::Unchecked);
        } else {
            item->setFlags(Qt::ItemIsEnabled);
        }
    }
    m_list->setUpdatesEnabled(true);
    m_machines = settings.machines;
}

void LoginForm::applyCaptions()
{
    m_languageLabel->setText(LangText(1));
    m_machineLabel->setText(LangText(2));
    m_ok->setText(LangText(3));
    m_cancel->setText(LangText(4));
    setWindowTitle(LangText(28));
}

int LoginForm::LanguageIndex() const
{
    return m_language->currentIndex();
}

std::vector<ChosenMachine> LoginForm::TakeMachines()
{
    return std::exchange(m_machines, {});
}

void LoginForm::okClicked()
{
    if (m_checkboxes) {
        for (ChosenMachine& machine : m_machines) {
            if (QListWidgetItem* item = m_list->item(machine.index)) {
                machine.autoConnect = item->checkState() == Qt::Checked;
            }
        }
    } else {
        m_machines.clear();
    }
    SetLanguageFlag(static_cast<uint8_t>(m_language->currentIndex()));
    BuildLanguageTable();
    accept();
}

void LoginForm::cancelClicked()
{
    m_machines.clear();
    reject();
}

void LoginForm::keyPressEvent(QKeyEvent* event)
{
    // Escape is the Cancel button; only the close box keeps the list.
    if (event->key() == Qt::Key_Escape) {
        m_cancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace vireo::ui
