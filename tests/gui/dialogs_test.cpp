// The network dialog and the start-up dialog, typed into as the operator
// would.

#include "app/ui/about_box.h"
#include "dialogs/ui/ip_form.h"
#include "gui_fixture.h"
#include "ui/gbk_text.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

class FakeDevice : public IpFormDevice
{
public:
    std::string Caption() const override { return caption; }
    std::optional<SystemRecordBytes> SystemRecord() const override { return record; }
    void SendSystemInfo(const SystemRecordBytes& payload) override { sent.push_back(payload); }

    std::string caption = "192.168.1.20:Studio";
    std::optional<SystemRecordBytes> record;
    std::vector<SystemRecordBytes> sent;
};

SystemRecordBytes sampleRecord()
{
    SystemRecordBytes r{};
    const uint8_t bytes[] = {0x10, 1, 2,    3,    192,  168,  1,    20,   255, 255,
                             255,  0, 0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0,   0x77};
    std::copy(std::begin(bytes), std::end(bytes), r.begin());
    return r;
}

QLineEdit* field(QWidget* dialog, const char* name)
{
    return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
}

// Types into the empty address field of a shown dialog.
void typeAddress(IPForm& form, const QString& keys)
{
    QLineEdit* ip = field(&form, "MaskEdit_ip");
    ip->setText(QString());
    ip->setFocus();
    ip->setCursorPosition(0);
    QTest::keyClicks(ip, keys);
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        unattended();
        SetLanguageFlag(1);
        BuildLanguageTable();
    }
    void init() { m_dir = std::make_unique<WorkDir>(); }
    void cleanup() { m_dir.reset(); }

    // --- the network dialog ---

    void typedAddressesAreNormalised_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("address");
        QTest::newRow("short groups") << "1.2.3.4"
                                      << "1  .2  .3  .4  "
                                      << "1.2.3.4";
        QTest::newRow("leading zeros") << "192.168.001.010"
                                       << "192.168.001.010"
                                       << "192.168.1.10";
        QTest::newRow("no dots") << "10000001"
                                 << "100.000.01 .   "
                                 << "100.0.1.0";
        // A dot right after a full group is dropped, not taken as a second move.
        QTest::newRow("dot after full group") << "123.4"
                                              << "123.4  .   .   "
                                              << "123.4.0.0";
        QTest::newRow("double dot") << "1..2"
                                    << "1  .2  .   .   "
                                    << "1.2.0.0";
    }

    void typedAddressesAreNormalised()
    {
        QFETCH(QString, keys);
        IPForm form;
        form.PrepareIPForm(IPForm::New, nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        typeAddress(form, keys);
        QTEST(field(&form, "MaskEdit_ip")->displayText(), "field");
        QCOMPARE(clickButton(&form, "Btn_ok"), int(QDialog::Accepted));
        std::string address;
        QVERIFY(form.GetIPFormAddress(address));
        QTEST(QString::fromStdString(address), "address");
    }

    void newModeKeepsTheLastEntriesAndBlanksMaskAndMac()
    {
        IPForm form;
        FakeDevice device;
        device.record = sampleRecord();
        form.PrepareIPForm(IPForm::Config, &device); // fills mask and MAC
        clickButton(&form, "Btn_cancel");

        form.PrepareIPForm(IPForm::New, nullptr);
        field(&form, "Edit_name")->setText(QStringLiteral("Rack"));
        field(&form, "MaskEdit_ip")->setText(QStringLiteral("010.001.002.003"));
        clickButton(&form, "Btn_ok");
        QCOMPARE(form.CurrentMode(), IPForm::NoMode);

        form.PrepareIPForm(IPForm::New, nullptr);
        QCOMPARE(form.windowTitle(), QStringLiteral("New IRD's network property"));
        QCOMPARE(field(&form, "Edit_name")->text(), QStringLiteral("Rack"));
        QCOMPARE(field(&form, "MaskEdit_ip")->displayText(), QStringLiteral("010.001.002.003"));
        QCOMPARE(field(&form, "MaskEdit_submask")->displayText(),
                 QStringLiteral("   .   .   .   "));
        QCOMPARE(field(&form, "MaskEdit_mac")->displayText(), QStringLiteral("  .  .  .  .  .  "));
        QVERIFY(!field(&form, "MaskEdit_submask")->isEnabled());
        QVERIFY(!field(&form, "MaskEdit_mac")->isEnabled());
        QVERIFY(field(&form, "MaskEdit_ip")->isEnabled());
    }

    void closingTheBoxAfterAnOkIsNotAccepted()
    {
        IPForm form;
        form.PrepareIPForm(IPForm::New, nullptr);
        clickButton(&form, "Btn_ok");
        std::string address;
        QVERIFY(form.GetIPFormAddress(address));

        form.PrepareIPForm(IPForm::New, nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.close(); // the close box
        QVERIFY(!form.GetIPFormAddress(address));
        QCOMPARE(form.CurrentMode(), IPForm::NoMode);
    }

    void addressGroupsAbove255KeepTheDialogOpen()
    {
        IPForm form;
        form.PrepareIPForm(IPForm::New, nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        field(&form, "MaskEdit_ip")->setText(QStringLiteral("010.300.000.001"));
        clickButton(&form, "Btn_ok");
        QVERIFY(form.isVisible());
        QVERIFY(!form.Accepted());
        QCOMPARE(field(&form, "MaskEdit_ip")->selectionStart(), 4);
        form.reject();
    }

    void nameKeepsWithinTheSettingsFileAndOutOfTheAddress()
    {
        IPForm form;
        form.PrepareIPForm(IPForm::New, nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QLineEdit* name = field(&form, "Edit_name");
        name->clear();
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("Rack:1.A"));
        QCOMPARE(name->text(), QStringLiteral("Rack1A"));
        // Eleven Chinese characters are 22 GBK bytes: the eleventh is refused.
        name->clear();
        for (int i = 0; i < 11; ++i) {
            QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QString(QChar(0x6d4b)),
                                Qt::NoModifier);
        }
        QCOMPARE(name->text().size(), 10);
        QCOMPARE(form.GetIPFormName().size(), size_t(20));
        form.reject();
    }

    void configModeShowsTheRecordAndSendsOnlyChanges()
    {
        IPForm form;
        FakeDevice device;
        device.record = sampleRecord();

        form.PrepareIPForm(IPForm::Config, &device);
        QCOMPARE(form.windowTitle(), QStringLiteral("Config IRD's network property"));
        QCOMPARE(field(&form, "Edit_name")->text(), QStringLiteral("Studio"));
        QCOMPARE(field(&form, "MaskEdit_ip")->displayText(), QStringLiteral("192.168.001.020"));
        QCOMPARE(field(&form, "MaskEdit_submask")->displayText(),
                 QStringLiteral("255.255.255.000"));
        QCOMPARE(field(&form, "MaskEdit_mac")->displayText(), QStringLiteral("00.1A.2B.3C.4D.5E"));
        field(&form, "Edit_name")->setText(QStringLiteral("Renamed"));
        clickButton(&form, "Btn_ok");
        QVERIFY(form.Accepted());
        QVERIFY(device.sent.empty()); // only the name changed

        // A MAC group that is not two hexadecimal digits is not sent as 0
        // either: the dialog stays on it.
        form.PrepareIPForm(IPForm::Config, &device);
        for (const QString& mac :
             {QStringLiteral("G1.1A.2B.3C.4D.5E"), QStringLiteral("01.1A.2B.3C.4 .5E"),
              QStringLiteral("01.1A.2B.3C.4D.  ")}) {
            field(&form, "MaskEdit_mac")->setText(mac);
            clickButton(&form, "Btn_ok");
            QCOMPARE(form.CurrentMode(), IPForm::Config);
            QVERIFY(device.sent.empty());
        }
        QCOMPARE(field(&form, "MaskEdit_mac")->selectionStart(), 15);
        QCOMPARE(field(&form, "MaskEdit_mac")->selectedText(), QStringLiteral("  "));
        field(&form, "MaskEdit_mac")->setText(QStringLiteral("01.1A.2B.3C.4D.5E"));
        clickButton(&form, "Btn_ok");
        QCOMPARE(device.sent.size(), size_t(1));
        const SystemRecordBytes& sent = device.sent.front();
        const SystemRecordBytes stored = sampleRecord();
        QVERIFY(std::equal(sent.begin(), sent.begin() + 12, stored.begin()));
        QCOMPARE(int(sent[12]), 0x01);
        QCOMPARE(int(sent[18]), 1);
        QCOMPARE(int(sent[19]), 0x77);

        // A group left empty in Config mode is not sent as 0: the dialog stays.
        form.PrepareIPForm(IPForm::Config, &device);
        field(&form, "MaskEdit_submask")->setText(QStringLiteral("255.255.   .000"));
        QCOMPARE(field(&form, "MaskEdit_submask")->displayText(),
                 QStringLiteral("255.255.   .000"));
        clickButton(&form, "Btn_ok");
        QCOMPARE(form.CurrentMode(), IPForm::Config); // still open on the empty group
        QCOMPARE(device.sent.size(), size_t(1));
        clickButton(&form, "Btn_cancel");
        QVERIFY(!form.Accepted());
    }

    void modifyModeStartsFromTheCaption()
    {
        IPForm form;
        FakeDevice device;
        device.caption = "10.0.0.7:\xb2\xe2\xca\xd4"; // 测试
        form.PrepareIPForm(IPForm::Modify, &device);
        QCOMPARE(form.windowTitle(), QStringLiteral("Modify IRD's network property"));
        QCOMPARE(field(&form, "Edit_name")->text(), QString::fromUtf8("\xe6\xb5\x8b\xe8\xaf\x95"));
        clickButton(&form, "Btn_ok");
        std::string address;
        QVERIFY(form.GetIPFormAddress(address));
        QCOMPARE(address, std::string("10.0.0.7"));
        QCOMPARE(form.GetIPFormName(), std::string("\xb2\xe2\xca\xd4"));
    }

    void aboutBoxValuesStandBesideTheirCaptions()
    {
        AboutBox about;
        const std::pair<const char*, const char*> pairs[] = {
            {"ProductName", "Label_prod_nam"}, {"Version", "Label_ver"},
            {"Copyright", "Label_cop"},        {"Comments", "Label_com1"},
            {"Comments", "Label_com2"},
        };
        for (const auto& [captionName, valueName] : pairs) {
            const auto* caption = about.findChild<QLabel*>(QString::fromLatin1(captionName));
            const auto* value = about.findChild<QLabel*>(QString::fromLatin1(valueName));
            QCOMPARE(value->x(), caption->x() + caption->width() + 10);
        }
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("Label_ver"))->text(),
                 QStringLiteral("2.29.6"));
        QCOMPARE(about.findChild<QPushButton*>(QStringLiteral("OKButton"))->text(),
                 QStringLiteral("Ok"));
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    }

    // --- the start-up dialog ---

    void loginListsTheMachinesWithTheirTicks()
    {
        WorkDir::write(QStringLiteral("Vireo.ini"), "[Address]\r\n"
                                                    "machine=y10.0.0.1:A\r\n"
                                                    "machine=n10.0.0.2:B\r\n"
                                                    "machine=y10.0.0.256:bad\r\n"
                                                    "[LANGUAGE]\r\nlanguage=1\r\n\r\n");
        LoginForm login(kSettingsFileName);
        auto* list = login.findChild<QListWidget*>(QStringLiteral("ListView_address"));
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("10.0.0.1:A"));
        QCOMPARE(list->item(0)->checkState(), Qt::Checked);
        QCOMPARE(list->item(1)->checkState(), Qt::Unchecked);
        QCOMPARE(login.LanguageIndex(), 1);
        QCOMPARE(login.windowTitle(), QStringLiteral("Login"));

        // Ok: the ticks as the operator left them.
        list->item(0)->setCheckState(Qt::Unchecked);
        list->item(1)->setCheckState(Qt::Checked);
        clickButton(&login, "Btn_ok");
        const auto machines = login.TakeMachines();
        QCOMPARE(machines.size(), size_t(2));
        QVERIFY(!machines[0].autoConnect);
        QVERIFY(machines[1].autoConnect);
    }

    void loginCancelAndCloseBox()
    {
        WorkDir::write(QStringLiteral("Vireo.ini"), "[Address]\r\n"
                                                    "machine=y10.0.0.1:A\r\n"
                                                    "[LANGUAGE]\r\nlanguage=1\r\n\r\n");
        {
            // Cancel: no machines; the table keeps the file's language while
            // the selector keeps the operator's choice for the next run.
            LoginForm login(kSettingsFileName);
            login.findChild<QComboBox*>(QStringLiteral("ComboBox_login_lang"))->setCurrentIndex(0);
            clickButton(&login, "Btn_cancel");
            QVERIFY(login.TakeMachines().empty());
            QCOMPARE(GetLangText(3), std::string("Ok"));
            QCOMPARE(login.LanguageIndex(), 0);
        }
        {
            // The close box: machines as read, flags as in the file.
            LoginForm login(kSettingsFileName);
            auto* list = login.findChild<QListWidget*>(QStringLiteral("ListView_address"));
            list->item(0)->setCheckState(Qt::Unchecked);
            login.show();
            QVERIFY(QTest::qWaitForWindowExposed(&login));
            login.close();
            const auto machines = login.TakeMachines();
            QCOMPARE(machines.size(), size_t(1));
            QVERIFY(machines[0].autoConnect);
        }
        {
            // Ok with Chinese chosen: the table follows the selector.
            LoginForm login(kSettingsFileName);
            login.findChild<QComboBox*>(QStringLiteral("ComboBox_login_lang"))->setCurrentIndex(0);
            clickButton(&login, "Btn_ok");
            QCOMPARE(LangText(3), FromGbk(lang_rows::kChinese[3]));
        }
        SetLanguageFlag(1);
        BuildLanguageTable();
    }

    void loginWithoutASettingsFile()
    {
        LoginForm login(kSettingsFileName);
        auto* list = login.findChild<QListWidget*>(QStringLiteral("ListView_address"));
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QStringLiteral("None of machine recorde!"));
        QVERIFY(!(list->item(0)->flags() & Qt::ItemIsUserCheckable));
        QCOMPARE(login.LanguageIndex(), 0);
        // Without a file the table starts in Chinese.
        QCOMPARE(LangText(28), FromGbk(lang_rows::kChinese[28]));
        clickButton(&login, "Btn_ok");
        QVERIFY(login.TakeMachines().empty());
        SetLanguageFlag(1);
        BuildLanguageTable();
    }

private:
    std::unique_ptr<WorkDir> m_dir;
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
