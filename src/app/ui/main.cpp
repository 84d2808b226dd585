// Vireo Remote Manager: program entry.

#include "app/ui/main_form.h"
#include "app/ui/single_instance.h"
#include "lang/language_table.h"
#include "log/log_file.h"
#include "ui/icons.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

using namespace vireo;
using namespace vireo::ui;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Vireo Remote Manager"));
    app.setDesktopFileName(QStringLiteral("vireo"));
    app.setWindowIcon(LoadIcon(QStringLiteral("vireo")));

    SingleInstance instance;
    if (!instance.TryAcquire()) {
        MessageBox::Information(nullptr, QStringLiteral("Application can only has one instance!"));
        return 0;
    }

    const QString logs = QString::fromLatin1(kLogsFolder);
    if (!QDir(logs).exists()) {
        QDir().mkdir(logs);
        if (!QDir(logs).exists()) {
            MessageBox::Information(nullptr, QStringLiteral("Create folder faild!\nExit!"));
            return 0;
        }
    }

    // The language table is empty until the start-up dialog builds it.
    DestroyLanguageTable();
    {
        MainForm form;
        form.FormCreate();
        // Qt's own texts (the buttons of message boxes) are in the language
        // of the program's texts: the one the table was built in, which a
        // cancelled start-up dialog leaves as the file named it whatever the
        // selector shows.
        QTranslator qtTexts;
        if (LanguageFlag() == 0 &&
            qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            app.installTranslator(&qtTexts);
        }
        form.CreateDialogs();
        form.show();
        app.exec();
    }
    DestroyLanguageTable();
    instance.Release();
    return 0;
}
