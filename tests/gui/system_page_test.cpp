// The "System Setting" tab of a device window connected to the simulated IRD:
// it shows what the device reports, and its buttons send what the operator
// chose, after the confirmations that guard a reset, a restart and a change
// of signal source.

#include "device/ui/mdi_child.h"
#include "device/ui/system_page.h"
#include "gui_fixture.h"
#include "link/message_code.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/gbk_text.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;
using namespace std::chrono_literals;

namespace {

constexpr int kSystemTab = 1;

// 0x26 0x05: 204, Original, English, 4:3, 1080I@60Hz, LNB IN; polling 300;
// muted at volume 7.
sim::DeviceDatabase deviceDatabase()
{
    sim::DeviceDatabase db = sim::GenerateDatabase({1, 2, 3, 1}, nullptr).value();
    const uint32_t word = (300u << 11) | 0x526;
    for (int i = 0; i < 4; ++i) {
        db.system[i] = static_cast<uint8_t>(word >> (8 * i));
    }
    db.volume = {7, true};
    return db;
}

template <typename T> T* child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

QByteArray held()
{
    const auto wire = deviceDatabase().system;
    return QByteArray(reinterpret_cast<const char*>(wire.data()), int(wire.size()));
}

} // namespace

class SystemPageTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<WorkDir>();
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
    }
    void cleanup()
    {
        m_form.reset();
        m_irb.reset();
        m_dir.reset();
    }

    void showsTheReportedSettingsAndMutedVolume()
    {
        QVERIFY(open("127.0.64.11"));
        QVERIFY(child<QRadioButton>(m_window, "RBtn_legth_204")->isChecked());
        QVERIFY(child<QRadioButton>(m_window, "RBtn_tsout_orig")->isChecked());
        QVERIFY(child<QRadioButton>(m_window, "RBtn_lang_eng")->isChecked());
        QVERIFY(child<QRadioButton>(m_window, "Rbtn_ratio_4_3")->isChecked());
        auto* osd = child<QRadioButton>(m_window, "Rbtn_osd_18_6");
        QVERIFY(osd->isChecked());
        QCOMPARE(osd->text(), QStringLiteral("1080I@60Hz"));
        QCOMPARE(child<QSpinBox>(m_window, "CSpinEdit_poll")->value(), 300);
        auto* signal = child<QComboBox>(m_window, "ComboBox_signal");
        QVERIFY(signal->isEnabled());
        QCOMPARE(signal->currentText(), QStringLiteral("LNB IN"));

        QTRY_COMPARE(page()->VolumeGauge()->value(), 7);
        QCOMPARE(page()->VolumeColour(), QColor(128, 128, 128));
        QVERIFY(!page()->VolumeGauge()->isTextVisible());
        QCOMPARE(child<QPushButton>(m_window, "Btn_silence")->text(), QStringLiteral("Volumn"));
        QVERIFY(logLines().contains(QStringLiteral("Silence")));
    }

    void applySendsTheChoicesAndCancelDropsEdits()
    {
        QVERIFY(open("127.0.64.12"));
        // Apply with nothing edited sends nothing.
        child<QPushButton>(m_window, "Btn_sys_ok")->click();

        // Edits are undone by Cancel and never sent.
        child<QRadioButton>(m_window, "RBtn_lang_chi")->click();
        child<QSpinBox>(m_window, "CSpinEdit_poll")->setValue(12);
        child<QPushButton>(m_window, "Btn_sys_cancel")->click();
        QTRY_VERIFY(child<QRadioButton>(m_window, "RBtn_lang_eng")->isChecked());
        QCOMPARE(child<QSpinBox>(m_window, "CSpinEdit_poll")->value(), 300);

        child<QRadioButton>(m_window, "Rbtn_osd_72_6")->click();
        child<QSpinBox>(m_window, "CSpinEdit_poll")->setValue(99999);
        child<QPushButton>(m_window, "Btn_sys_ok")->click();
        QTRY_COMPARE(payloadsOf(msg::SetSystemInfo).size(), 1);
        QByteArray expected = held();
        const uint32_t word = (99999u << 11) | 0x566; // output type 3 in byte 0
        for (int i = 0; i < 4; ++i) {
            expected[i] = char(word >> (8 * i));
        }
        QCOMPARE(lastPayload(msg::SetSystemInfo), expected);
        // The device's answer is the held record now: the choice stays.
        QTRY_COMPARE(m_window->SystemRecord()->at(0), uint8_t(0x66));
        QVERIFY(child<QRadioButton>(m_window, "Rbtn_osd_72_6")->isChecked());
        QVERIFY(m_window->Session().linked);
    }

    void signalSourceAsksAndCancelPutsTheListBack()
    {
        QVERIFY(open("127.0.64.13"));
        auto* signal = child<QComboBox>(m_window, "ComboBox_signal");

        MessageBox::setNextAnswer(QMessageBox::Cancel);
        signal->setFocus();
        QTest::keyClick(signal, Qt::Key_Down);
        QCOMPARE(MessageBox::shownTexts(), QStringList{QStringLiteral("127.0.64.13:Sys") +
                                                       QStringLiteral("Change signal source?")});
        QCOMPARE(signal->currentText(), QStringLiteral("LNB IN"));
        QTest::qWait(50);
        QCOMPARE(payloadsOf(msg::SetSystemInfo).size(), 0);

        MessageBox::setNextAnswer(QMessageBox::Ok);
        QTest::keyClick(signal, Qt::Key_Down);
        QTRY_COMPARE(payloadsOf(msg::SetSystemInfo).size(), 1);
        QByteArray expected = held();
        expected[0] = char(expected[0] | 0x10);
        QCOMPARE(lastPayload(msg::SetSystemInfo), expected);
        QTRY_VERIFY(logLines().contains(QStringLiteral("IRD signal has changed, please update!")));
        QTRY_VERIFY(logLines().contains(QStringLiteral("Disconnect successfully")));
    }

    void volumeButtonsSendTheirCommands()
    {
        QVERIFY(open("127.0.64.14"));
        QTRY_COMPARE(page()->VolumeGauge()->value(), 7);
        auto* silence = child<QPushButton>(m_window, "Btn_silence");
        silence->click();
        QTRY_COMPARE(silence->text(), QStringLiteral("Silence"));
        QCOMPARE(page()->VolumeColour(), QColor(0, 255, 0));
        QCOMPARE(payloadsOf(msg::SetVolume), QList<QByteArray>{QByteArray("\x7F")});

        // "－" lowers; the gauge follows the device's answer only.
        child<QPushButton>(m_window, "Btn_vol_dec")->click();
        QCOMPARE(page()->VolumeGauge()->value(), 7);
        QTRY_COMPARE(page()->VolumeGauge()->value(), 6);
        silence->click(); // now it mutes
        QTRY_COMPARE(silence->text(), QStringLiteral("Volumn"));
        QCOMPARE(payloadsOf(msg::SetVolume),
                 (QList<QByteArray>{QByteArray("\x7F"), QByteArray("\x05"), QByteArray("\xF0")}));

        // At the top of the range "+" sends nothing.
        page()->ShowVolume({15, false, 0, 255, 0, 110});
        child<QPushButton>(m_window, "Btn_vol_inc")->click();
        QTest::qWait(50);
        QCOMPARE(payloadsOf(msg::SetVolume).size(), 3);
    }

    void resetAndRebootAskFirst()
    {
        QVERIFY(open("127.0.64.15"));
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        child<QPushButton>(m_window, "BitBtn_reset")->click();
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        child<QPushButton>(m_window, "BitBtn_restart")->click();
        QCOMPARE(MessageBox::shownTexts(),
                 (QStringList{QStringLiteral("127.0.64.15:SysReset now?"),
                              QStringLiteral("127.0.64.15:SysReboot now?")}));
        QTest::qWait(50);
        QCOMPARE(payloadsOf(msg::SetSystemInfo).size() + payloadsOf(msg::Reboot).size(), 0);

        MessageBox::setNextAnswer(QMessageBox::Ok);
        child<QPushButton>(m_window, "BitBtn_restart")->click();
        QTRY_COMPARE(payloadsOf(msg::Reboot).size(), 1);

        MessageBox::setNextAnswer(QMessageBox::Ok);
        child<QPushButton>(m_window, "BitBtn_reset")->click();
        QTRY_COMPARE(payloadsOf(msg::SetSystemInfo).size(), 1);
        QByteArray expected = held();
        expected[0] = char(expected[0] | 0x01);
        QCOMPARE(lastPayload(msg::SetSystemInfo), expected);
        QTRY_VERIFY(logLines().contains(QStringLiteral("IRD has restarted, please update!")));
    }

private:
    // A device window on a simulated IRD at `address`, connected, refreshed
    // and showing its system tab.
    bool open(const char* address)
    {
        m_irb = std::make_unique<sim::Simulator>(deviceDatabase(), sim::QuietOptions());
        if (!m_irb->Start(address, 0)) {
            return false;
        }
        DeviceOptions options;
        options.port = m_irb->Port();
        options.timing = LinkTiming{std::chrono::microseconds(200)};
        m_form = startMainForm(options);
        if (!m_form) {
            return false;
        }
        m_window = m_form->OpenDeviceWindow(address, "Sys");
        if (m_window == nullptr) {
            return false;
        }
        m_window->ConnectMachine();
        if (!QTest::qWaitFor([&] { return m_window->DataLoaded(); }, 10000)) {
            return false;
        }
        auto* tabs = child<QTabWidget>(m_window, "PageControl_child");
        if (!QTest::qWaitFor([&] { return tabs->isTabEnabled(kSystemTab); }, 5000)) {
            return false;
        }
        tabs->setCurrentIndex(kSystemTab);
        return QTest::qWaitFor(
            [&] { return child<QRadioButton>(m_window, "RBtn_legth_204")->isChecked(); }, 5000);
    }
    SystemPage* page() const { return m_window->SystemSettingsPage(); }
    QStringList logLines() const
    {
        QStringList messages;
        const QString text = child<QPlainTextEdit>(m_window, "Memo_log")->toPlainText();
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            messages << line.mid(line.indexOf(QStringLiteral("): ")) + 3);
        }
        return messages;
    }
    QList<QByteArray> payloadsOf(uint8_t code) const
    {
        QList<QByteArray> out;
        for (const auto& frame : m_irb->ReceivedFrames()) {
            if (frame.size() > 5 && frame[1] == code) {
                out << QByteArray(reinterpret_cast<const char*>(frame.data()) + 3,
                                  int(frame.size()) - 6);
            }
        }
        return out;
    }
    QByteArray lastPayload(uint8_t code) const
    {
        const QList<QByteArray> all = payloadsOf(code);
        return all.isEmpty() ? QByteArray() : all.back();
    }

    std::unique_ptr<WorkDir> m_dir;
    std::unique_ptr<sim::Simulator> m_irb;
    std::unique_ptr<MainForm> m_form;
    MdiChild* m_window = nullptr;
};

QTEST_MAIN(SystemPageTest)
#include "system_page_test.moc"
