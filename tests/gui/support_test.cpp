// The pieces the windows stand on: GBK text at the widget boundary, the
// single-instance lock, the image lists and the message box seam.

#include "app/ui/single_instance.h"
#include "gui_fixture.h"
#include "ui/gbk_text.h"
#include "ui/icons.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/wait.h>
#include <unistd.h>

using namespace vireo;
using namespace vireo::ui;

class SupportTest : public QObject
{
    Q_OBJECT

private slots:
    void gbkRoundTripsThroughBothConverters()
    {
        const QString text =
            QString::fromUtf8("IRD \xe4\xb8\xad\xe6\x96\x87 \xe6\xb5\x8b\xe8\xaf\x95:1");
        const std::string gbk = "IRD \xd6\xd0\xce\xc4 \xb2\xe2\xca\xd4:1";
        QCOMPARE(ToGbk(text), gbk);
        QCOMPARE(FromGbk(gbk), text);
        QCOMPARE(ToGbkIconv(text), gbk);
        QCOMPARE(FromGbkIconv(gbk), text);
        QCOMPARE(GbkLength(text), gbk.size());
        QVERIFY(FromGbk("").isEmpty());

        // Every Chinese row of the language table survives the round trip.
        for (int row = 0; row < kLanguageRowCount; ++row) {
            const std::string bytes = lang_rows::kChinese[row];
            QCOMPARE(ToGbk(FromGbk(bytes)), bytes);
        }
    }

    void aBrokenSequenceDoesNotStopTheConversion()
    {
        const std::string broken = "A\xd6 B"; // a lead byte without a valid trail
        const QString viaIconv = FromGbkIconv(broken);
        QVERIFY(viaIconv.startsWith(QLatin1Char('A')));
        QVERIFY(viaIconv.endsWith(QLatin1Char('B')));
        QVERIFY(FromGbk(broken).startsWith(QLatin1Char('A')));
        QVERIFY(FromGbk(broken).endsWith(QLatin1Char('B')));
        QVERIFY(FromGbkIconv("A\xd6").startsWith(QLatin1Char('A'))); // cut off at the end
    }

    void oneInstanceAtATime()
    {
        QTemporaryDir dir;
        SingleInstance first(QStringLiteral("VIREO_TEST_LOCK"), dir.path());
        SingleInstance second(QStringLiteral("VIREO_TEST_LOCK"), dir.path());
        QVERIFY(first.TryAcquire());
        QVERIFY(first.TryAcquire()); // asking again is harmless
        QVERIFY(!second.TryAcquire());
        first.Release();
        QVERIFY(second.TryAcquire());
    }

    void theLockIsTheUsersOwn()
    {
        // Each user's session has a runtime folder of its own: the lock lies
        // there, so another user's copy never sees it.
        QTemporaryDir runtime;
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        SingleInstance mine(QStringLiteral("VIREO_TEST_LOCK"));
        QVERIFY(mine.TryAcquire());
        QCOMPARE(QFileInfo(mine.LockPath()).absolutePath(), QDir(runtime.path()).absolutePath());
        mine.Release();
        qputenv("XDG_RUNTIME_DIR", saved);
    }

    void aLockLeftByACrashedRunIsTakenOver()
    {
        QTemporaryDir dir;
        const pid_t pid = fork();
        if (pid == 0) {
            SingleInstance crashed(QStringLiteral("VIREO_TEST_LOCK"), dir.path());
            _exit(crashed.TryAcquire() ? 0 : 1); // no unlock: as if it crashed
        }
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QCOMPARE(WEXITSTATUS(status), 0);
        SingleInstance next(QStringLiteral("VIREO_TEST_LOCK"), dir.path());
        QVERIFY(QFile::exists(next.LockPath()));
        QVERIFY(next.TryAcquire());
    }

    void everyImageOfTheListsIsDrawn()
    {
        struct List
        {
            QIcon (*image)(int);
            QList<int> used;
        };
        const List lists[] = {
            {MachineImage, {1, 2, 3, 4, 5, 6}},
            {ToolbarImage, {0, 1, 2, 3, 4, 5}},
            {ProgramImage, {0, 1, 2, 3, 4, 5, 7, 8, 9}},
        };
        for (const List& list : lists) {
            for (const int index : list.used) {
                const QIcon icon = list.image(index);
                QVERIFY2(!icon.isNull(), qPrintable(QString::number(index)));
                for (const int size : {16, 32}) {
                    const QImage image = icon.pixmap(size, size).toImage();
                    QCOMPARE(image.size(), QSize(size, size));
                    int opaque = 0;
                    for (int y = 0; y < size; ++y) {
                        for (int x = 0; x < size; ++x) {
                            opaque += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
                        }
                    }
                    // Something is drawn, and it is not a filled square.
                    QVERIFY(opaque > size * size / 20);
                    if (index != 6 || list.image != MachineImage) {
                        QVERIFY(opaque < size * size);
                    }
                }
            }
        }
        QVERIFY(MachineImage(0).isNull()); // image 0 is not used
        QVERIFY(MachineImage(7).isNull());
        QVERIFY(ProgramImage(6).isNull());
        QVERIFY(ProgramImage(-1).isNull());
    }

    void messageBoxAnswersQueueUp()
    {
        MessageBox::setUnattended(true);
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::No);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        const auto buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        QCOMPARE(MessageBox::Ask(nullptr, QStringLiteral("one"), buttons, QMessageBox::Cancel),
                 QMessageBox::No);
        QCOMPARE(MessageBox::Ask(nullptr, QStringLiteral("two"), buttons, QMessageBox::Cancel),
                 QMessageBox::Yes);
        // Nothing queued: the box gives its escape answer.
        QCOMPARE(MessageBox::Ask(nullptr, QStringLiteral("three"), buttons, QMessageBox::Cancel),
                 QMessageBox::Cancel);
        QCOMPARE(MessageBox::shownTexts(), (QStringList{"one", "two", "three"}));
    }
};

QTEST_MAIN(SupportTest)
#include "support_test.moc"
