#pragma once

#include "app/settings_file.h"

#include <QDialog>
#include <filesystem>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace vireo::ui {

// TLoginForm, the start-up dialog: lists the machines of the settings file
// with a check box each (ticked: connect at start-up) and offers the
// interface language. Building it reads the file and builds the language
// table in the language the file names.
//
//   Ok       the ticks become the machines' auto-connect flags and the table
//            is rebuilt in the language now selected;
//   Cancel   no machine is opened (Escape does the same);
//   close    the machines stay as read, the language as built at creation.
class LoginForm : public QDialog
{
    Q_OBJECT
public:
    explicit LoginForm(const std::filesystem::path& settingsPath, QWidget* parent = nullptr);

    // Item index of the language selector: 0 Chinese, 1 English.
    int LanguageIndex() const;
    // The machines to open, in file order; the list is empty afterwards.
    std::vector<ChosenMachine> TakeMachines();
    const std::vector<ChosenMachine>& Machines() const { return m_machines; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fill(const SettingsReadResult& settings);
    void applyCaptions();
    void okClicked();
    void cancelClicked();

    QComboBox* m_language = nullptr;
    QListWidget* m_list = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_languageLabel = nullptr;
    QLabel* m_machineLabel = nullptr;
    bool m_checkboxes = false;
    std::vector<ChosenMachine> m_machines;
};

} // namespace vireo::ui
