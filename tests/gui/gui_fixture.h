#pragma once

#include "app/ui/login_form.h"
#include "app/ui/main_form.h"
#include "lang/language_table.h"
#include "ui/message_box.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>

namespace vireo::test {

// A fresh working folder (with its Logs folder) for one test; the program
// reads and writes Vireo.ini and Logs/ relative to it.
class WorkDir
{
public:
    WorkDir() : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
        QDir().mkdir(QStringLiteral("Logs"));
    }
    ~WorkDir() { QDir::setCurrent(m_previous); }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    QString path() const { return m_dir.path(); }

    static void write(const QString& name, const QByteArray& bytes)
    {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static QByteArray read(const QString& name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

// No box or dialog ever waits for an operator: unscripted ones give their
// escape answer at once.
inline void unattended()
{
    ui::MessageBox::setUnattended(true);
    ui::ModalSeam::setUnattended(true);
    ui::MessageBox::clearShown();
    ui::MessageBox::clearAnswers(); // an earlier test's answers are not this one's
}

// Clicks a dialog's button by its component name, as the operator would.
inline int clickButton(QDialog* dialog, const char* name)
{
    auto* button = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
    if (button == nullptr) {
        return -1;
    }
    button->click();
    return dialog->result();
}

// A main window through its start-up: the start-up dialog confirmed with Ok,
// the dialogs made, optionally shown (which runs the first paint).
inline std::unique_ptr<ui::MainForm> startMainForm(const ui::DeviceOptions& options = {},
                                                   bool show = true)
{
    unattended();
    auto form = std::make_unique<ui::MainForm>();
    form->SetDeviceOptions(options);
    ui::ModalSeam::setNextAction([](QDialog* d) { return clickButton(d, "Btn_ok"); });
    form->FormCreate();
    form->CreateDialogs();
    // The history opens on a thread of its own; the tests start with it open.
    if (!QTest::qWaitFor([&form] { return form->History() != nullptr; }, 10000)) {
        return nullptr;
    }
    if (show) {
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) {
            return nullptr;
        }
    }
    return form;
}

inline QByteArray settingsWithLanguage(int language)
{
    return QByteArray("[Address]\r\n[LANGUAGE]\r\nlanguage=") + QByteArray::number(language) +
           "\r\n\r\n";
}

} // namespace vireo::test
