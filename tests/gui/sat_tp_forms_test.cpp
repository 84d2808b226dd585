// The satellite and transponder dialogs, driven as the operator would, with a
// device that records what would be sent.

#include "dialogs/ui/sat_form.h"
#include "dialogs/ui/tp_form.h"
#include "gui_fixture.h"
#include "link/message_code.h"
#include "ui/gbk_text.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <optional>
#include <vector>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

struct Sent
{
    uint8_t code;
    int a;
    int b;
    std::vector<uint8_t> data;
};

class RecordingDevice : public FormDevice
{
public:
    bool SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data) override
    {
        sent.push_back({code, a, b, {data.begin(), data.end()}});
        return false;
    }
    std::optional<SatelliteWire> HeldSatellite(uint8_t) override { return heldSatellite; }
    std::optional<TpWire> HeldTp(uint8_t) override { return heldTp; }
    std::vector<Sent> sent;
    std::optional<SatelliteWire> heldSatellite;
    std::optional<TpWire> heldTp;
};

SatelliteRecord storedSatellite()
{
    SatelliteRecord r;
    const uint8_t head[] = {3, 2, 0xFF, 0x05, 0x68, 0x29, 0x16, 0x26}; // Close, Open, 10600, 9750
    std::copy(std::begin(head), std::end(head), r.wire.begin());
    const std::string name = "Asia 7";
    std::copy(name.begin(), name.end(), r.wire.begin() + 8);
    return r;
}

TpRecord storedTp(uint8_t modulation, uint8_t fec)
{
    TpRecord r;
    r.wire = {9, 2, 8, 10, 0x00, 0x0F, 0x6C, 0x6B, modulation, 1, 1, fec}; // 3840 H 27500
    return r;
}

template <typename T> T* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(QString::fromLatin1(name));
}

QLineEdit* edit(QWidget* dialog, const char* name)
{
    return child<QLineEdit>(dialog, name);
}

QComboBox* combo(QWidget* dialog, const char* name)
{
    return child<QComboBox>(dialog, name);
}

const char* const kFecLists[] = {"Cob_FEC_s2_q", "Cob_FEC_s2_8", "Cob_FEC_s_q", "Cob_FEC_s_8"};

// The FEC lists the operator would see, by name.
QStringList shownFecLists(QWidget* dialog)
{
    QStringList shown;
    for (const char* name : kFecLists) {
        if (!combo(dialog, name)->isHidden()) {
            shown << QString::fromLatin1(name);
        }
    }
    return shown;
}

// Runs the next modal dialog shown with `steps` instead of an operator; the
// dialog is shown while they run.
template <typename Steps> void whileOpen(Steps steps)
{
    ModalSeam::setNextAction([steps](QDialog* d) {
        d->show();
        steps(d);
        if (d->isVisible()) {
            d->reject();
        }
        return d->result();
    });
}

QString lastBox()
{
    const QStringList shown = MessageBox::shownTexts();
    return shown.isEmpty() ? QString() : shown.back();
}

} // namespace

class SatTpFormsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        unattended();
        SetLanguageFlag(1);
        BuildLanguageTable();
    }
    void init() { MessageBox::clearShown(); }

    // --- the satellite dialog ---

    void satelliteCaptionsAndLists()
    {
        SatForm form;
        QCOMPARE(form.objectName(), QStringLiteral("TForm_satinfo"));
        QCOMPARE(combo(&form, "Cob_diseqc")->itemText(3), QStringLiteral("Port  C"));
        QCOMPARE(combo(&form, "Cob_lnb")->itemText(0), QStringLiteral("Auto"));
        QCOMPARE(combo(&form, "Cob_22k")->itemText(1), QStringLiteral("Open"));
        QCOMPARE(child<QLabel>(&form, "StaticText_nam")->text(), QStringLiteral("SAT Name"));
        QCOMPARE(child<QLabel>(&form, "StaticText_lfrq")->text(), QStringLiteral("Low Frequency"));
        QCOMPARE(child<QPushButton>(&form, "Btn_SatInfo_cancel")->text(), QStringLiteral("Cancel"));
    }

    void satelliteSetSendsTheEditedRecord()
    {
        SatForm form;
        RecordingDevice device;
        const SatelliteRecord record = storedSatellite();
        whileOpen([&](QDialog* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("SAT Information Set"));
            QCOMPARE(edit(d, "Edt_highbenzhen")->text(), QStringLiteral("10600"));
            QCOMPARE(edit(d, "Edt_lowbenzhen")->text(), QStringLiteral("9750"));
            QCOMPARE(combo(d, "Cob_lnb")->currentIndex(), 1);
            QCOMPARE(combo(d, "Cob_22k")->currentIndex(), 1);
            QCOMPARE(edit(d, "Edit_satname")->text(), QStringLiteral("Asia 7"));
            combo(d, "Cob_diseqc")->setCurrentIndex(3); // "Port  C"
            edit(d, "Edt_highbenzhen")->setText(QStringLiteral("11300"));
            edit(d, "Edit_satname")->setText(QStringLiteral("  Sky"));
            clickButton(d, "Btn_SatInfo_ok");
        });
        QCOMPARE(form.Init_Form_SatSet(&record, &device), int(QDialog::Accepted));
        QCOMPARE(form.Mode(), SatDialogMode::Idle);
        QCOMPARE(device.sent.size(), size_t(1));
        const Sent& sent = device.sent.front();
        QCOMPARE(sent.code, msg::SetSatellite);
        QCOMPARE(sent.data.size(), size_t(40));
        QCOMPARE(sent.data[0], uint8_t(3)); // index and links as stored
        QCOMPARE(sent.data[1], uint8_t(2));
        QCOMPARE(sent.data[2], uint8_t(0xFF));
        QCOMPARE(sent.data[3], uint8_t(0x70 | 0x04 | 0x01));
        QCOMPARE(sent.data[4], uint8_t(11300 & 0xFF));
        QCOMPARE(sent.data[5], uint8_t(11300 >> 8));
        QCOMPARE(sent.data[6], uint8_t(0x16));
        QCOMPARE(sent.data[7], uint8_t(0x26));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&sent.data[8])), QByteArray("Sky"));

        // Back to "Close": bits 4 to 7 clear again.
        whileOpen([&](QDialog* d) {
            combo(d, "Cob_diseqc")->setCurrentIndex(0);
            clickButton(d, "Btn_SatInfo_ok");
        });
        form.Init_Form_SatSet(&record, &device);
        QCOMPARE(device.sent.back().data[3], uint8_t(0x05));
    }

    void setAndModifySendTheLinksTheListsHoldWhenOkIsPressed()
    {
        // The satellite's and the transponder's neighbours changed while
        // their dialogs were open.
        RecordingDevice device;
        const SatelliteRecord satellite = storedSatellite(); // links 2 and none
        device.heldSatellite = satellite.wire;
        (*device.heldSatellite)[1] = 0xFF;
        (*device.heldSatellite)[2] = 7;
        SatForm satForm;
        whileOpen([&](QDialog* d) {
            edit(d, "Edt_highbenzhen")->setText(QStringLiteral("11300"));
            clickButton(d, "Btn_SatInfo_ok");
        });
        satForm.Init_Form_SatSet(&satellite, &device);
        QCOMPARE(device.sent.back().data[1], uint8_t(0xFF));
        QCOMPARE(device.sent.back().data[2], uint8_t(7));
        QCOMPARE(device.sent.back().data[5], uint8_t(11300 >> 8)); // the operator's entry

        const TpRecord tp = storedTp(2, 4); // links 8 and 10
        device.heldTp = tp.wire;
        (*device.heldTp)[2] = 0xFF;
        (*device.heldTp)[3] = 0xFF;
        TpForm tpForm;
        whileOpen([&](QDialog* d) {
            edit(d, "Edt_fre")->setText(QStringLiteral("3900"));
            clickButton(d, "Btn_ok");
        });
        tpForm.Init_Form_TpSet(&tp, &device);
        QCOMPARE(device.sent.back().code, msg::ModifyTp);
        QCOMPARE(device.sent.back().data,
                 (std::vector<uint8_t>{9, 2, 0xFF, 0xFF, 0x3C, 0x0F, 0x6C, 0x6B, 2, 1, 1, 4}));
    }

    void satelliteAddSendsANewRecordWithItsNameAsTyped()
    {
        SatForm form;
        RecordingDevice device;
        whileOpen([&](QDialog* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Add Satellite Set"));
            QCOMPARE(edit(d, "Edit_satname")->text(), QStringLiteral("UnNamed"));
            QCOMPARE(edit(d, "Edt_highbenzhen")->text(), QString());
            QCOMPARE(combo(d, "Cob_diseqc")->currentIndex(), 0);
            edit(d, "Edt_highbenzhen")->setText(QStringLiteral("10600"));
            edit(d, "Edt_lowbenzhen")->setText(QStringLiteral("9750"));
            edit(d, "Edit_satname")->setText(QStringLiteral("  Sky"));
            clickButton(d, "Btn_SatInfo_ok");
        });
        QCOMPARE(form.Init_Form_SatAdd(&device), int(QDialog::Accepted));
        QCOMPARE(device.sent.size(), size_t(1));
        const Sent& sent = device.sent.front();
        QCOMPARE(sent.code, msg::AddSatellite);
        const std::vector<uint8_t> head(sent.data.begin(), sent.data.begin() + 8);
        QCOMPARE(head, (std::vector<uint8_t>{0, 0, 0, 0, 0x68, 0x29, 0x16, 0x26}));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&sent.data[8])), QByteArray("  Sky"));
    }

    void satelliteFrequenciesThatCannotBeSentKeepTheDialogOpen()
    {
        SatForm form;
        RecordingDevice device;
        whileOpen([&](QDialog* d) {
            // Ok at once: the empty high frequency is no number.
            clickButton(d, "Btn_SatInfo_ok");
            QCOMPARE(lastBox(), QStringLiteral("'' is not a valid integer value"));
            QVERIFY(d->isVisible());
            // 70000 is refused instead of going out as 4464.
            edit(d, "Edt_highbenzhen")->setText(QStringLiteral("10600"));
            edit(d, "Edt_lowbenzhen")->setText(QStringLiteral("70000"));
            clickButton(d, "Btn_SatInfo_ok");
            QCOMPARE(lastBox(), QStringLiteral("'70000' is out of range (0 to 65535)"));
            QVERIFY(d->isVisible());
            QCOMPARE(edit(d, "Edt_lowbenzhen")->text(), QStringLiteral("70000"));
            QCOMPARE(edit(d, "Edt_lowbenzhen")->selectedText(), QStringLiteral("70000"));
            QCOMPARE(static_cast<SatForm*>(d)->Mode(), SatDialogMode::Add);
        });
        QCOMPARE(form.Init_Form_SatAdd(&device), int(QDialog::Rejected));
        QVERIFY(device.sent.empty());
        QCOMPARE(form.Mode(), SatDialogMode::Idle);
    }

    void satelliteNameIsCutAtACharacterBoundary()
    {
        SatForm form;
        RecordingDevice device;
        // 30 letters and two Chinese characters: the first Chinese character
        // would take bytes 30 and 31 and leave no room for the zero.
        const QString name =
            QString(30, QLatin1Char('a')) + QString::fromUtf8("\xe6\xb5\x8b\xe8\xaf\x95");
        whileOpen([&](QDialog* d) {
            edit(d, "Edt_highbenzhen")->setText(QStringLiteral("1"));
            edit(d, "Edt_lowbenzhen")->setText(QStringLiteral("1"));
            edit(d, "Edit_satname")->setText(name);
            clickButton(d, "Btn_SatInfo_ok");
        });
        form.Init_Form_SatAdd(&device);
        QCOMPARE(device.sent.size(), size_t(1));
        const std::vector<uint8_t>& data = device.sent.front().data;
        QCOMPARE(FromGbk(std::string(reinterpret_cast<const char*>(&data[8]))),
                 QString(30, QLatin1Char('a')));
        QCOMPARE(data[38], uint8_t(0));
        QCOMPARE(data[39], uint8_t(0));

        // Chinese only: 15 of 16 characters fit.
        whileOpen([&](QDialog* d) {
            edit(d, "Edit_satname")->setText(QString(16, QChar(0x6d4b)));
            clickButton(d, "Btn_SatInfo_ok");
        });
        const SatelliteRecord record = storedSatellite();
        form.Init_Form_SatSet(&record, &device);
        const std::vector<uint8_t>& set = device.sent.back().data;
        QCOMPARE(FromGbk(std::string(reinterpret_cast<const char*>(&set[8]))),
                 QString(15, QChar(0x6d4b)));
    }

    void satelliteWithoutArgumentsOnlyTellsSo()
    {
        SatForm form;
        RecordingDevice device;
        const SatelliteRecord record = storedSatellite();
        const int actions = ModalSeam::pendingActions();
        QCOMPARE(form.Init_Form_SatSet(nullptr, &device), int(QDialog::Rejected));
        QCOMPARE(form.Init_Form_SatSet(&record, nullptr), int(QDialog::Rejected));
        QCOMPARE(form.Init_Form_SatAdd(nullptr), int(QDialog::Rejected));
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList({QStringLiteral("Init_Form_SatSet(): NO argument!"),
                              QStringLiteral("Init_Form_SatSet(): NO argument!"),
                              QStringLiteral("Init_Form_SatAdd(): NO argument!")}));
        QCOMPARE(ModalSeam::pendingActions(), actions);
        QCOMPARE(form.Mode(), SatDialogMode::Idle);
    }

    // --- the transponder dialog ---

    void tpCaptionsAndLists()
    {
        TpForm form;
        QCOMPARE(form.objectName(), QStringLiteral("TForm_tpinfo"));
        QCOMPARE(form.windowTitle(), QStringLiteral("TP Information"));
        QCOMPARE(combo(&form, "Cob_pol")->itemText(1), QStringLiteral("Hor"));
        QCOMPARE(combo(&form, "Cob_Pilot")->itemText(0), QStringLiteral("Close"));
        QCOMPARE(child<QLabel>(&form, "StaticText_pilot")->text(), QStringLiteral("NIT"));
        QCOMPARE(combo(&form, "Cob_Modulat")->count(), 4);
        QCOMPARE(combo(&form, "Cob_FEC_s2_q")->count(), 8);
        QCOMPARE(combo(&form, "Cob_FEC_s2_8")->count(), 6);
        QCOMPARE(combo(&form, "Cob_FEC_s_q")->itemText(0), QStringLiteral("Auto"));
        QCOMPARE(combo(&form, "Cob_FEC_s_8")->itemText(4), QStringLiteral("7_8"));
    }

    void fecListsKeepTheirOwnSelection()
    {
        TpForm form;
        RecordingDevice device;
        const SatelliteRecord satellite = storedSatellite();
        whileOpen([&](QDialog* d) {
            QCOMPARE(shownFecLists(d), QStringList{QStringLiteral("Cob_FEC_s2_q")});
            combo(d, "Cob_FEC_s2_q")->setCurrentIndex(3); // "3_4"
            QComboBox* modulation = combo(d, "Cob_Modulat");
            modulation->setFocus();
            QTest::keyClick(modulation, Qt::Key_Down); // "8PSK_S2"
            QCOMPARE(modulation->currentIndex(), 1);
            QCOMPARE(shownFecLists(d), QStringList{QStringLiteral("Cob_FEC_s2_8")});
            QCOMPARE(combo(d, "Cob_FEC_s2_8")->currentIndex(), 0); // not "3_4" carried over
            combo(d, "Cob_FEC_s2_8")->setCurrentIndex(5);
            QTest::keyClick(modulation, Qt::Key_Up);
            QCOMPARE(shownFecLists(d), QStringList{QStringLiteral("Cob_FEC_s2_q")});
            QCOMPARE(combo(d, "Cob_FEC_s2_q")->currentText(), QStringLiteral("3_4"));
            QTest::keyClick(modulation, Qt::Key_Down);
            QCOMPARE(combo(d, "Cob_FEC_s2_8")->currentText(), QStringLiteral("9_10"));

            edit(d, "Edt_fre")->setText(QStringLiteral("3840"));
            edit(d, "Edt_sym")->setText(QStringLiteral("27500"));
            clickButton(d, "Btn_ok");
        });
        QCOMPARE(form.Init_Form_TpAdd(&satellite, &device), int(QDialog::Accepted));
        QCOMPARE(device.sent.size(), size_t(1));
        QCOMPARE(device.sent.front().code, msg::AddTp);
        QCOMPARE(device.sent.front().data,
                 (std::vector<uint8_t>{0, 3, 0, 0, 0x00, 0x0F, 0x6C, 0x6B, 1, 0, 0, 5}));

        // A stored transponder sets only its own modulation's list.
        const TpRecord record = storedTp(2, 4);
        whileOpen([&](QDialog* d) {
            QCOMPARE(shownFecLists(d), QStringList{QStringLiteral("Cob_FEC_s_q")});
            QCOMPARE(combo(d, "Cob_FEC_s_q")->currentIndex(), 4);
            QCOMPARE(combo(d, "Cob_FEC_s2_8")->currentIndex(), 5);
        });
        form.Init_Form_TpSet(&record, &device);
    }

    void unknownModulationOpensWithoutAFecList()
    {
        TpForm form;
        RecordingDevice device;
        const TpRecord record = storedTp(7, 1);
        whileOpen([&](QDialog* d) {
            QCOMPARE(combo(d, "Cob_Modulat")->currentIndex(), -1);
            QVERIFY(shownFecLists(d).isEmpty());
            QCOMPARE(edit(d, "Edt_fre")->text(), QStringLiteral("3840"));
            QCOMPARE(combo(d, "Cob_pol")->currentIndex(), 1);
            // Ok without a modulation: nothing to send, entries stay.
            clickButton(d, "Btn_ok");
            QCOMPARE(lastBox(), QStringLiteral("Please check and re-set!"));
            QVERIFY(d->isVisible());
            // 8PSK_S shows its list without a selection.
            combo(d, "Cob_Modulat")->setCurrentIndex(3);
            QCOMPARE(shownFecLists(d), QStringList{QStringLiteral("Cob_FEC_s_8")});
            QCOMPARE(combo(d, "Cob_FEC_s_8")->currentIndex(), -1);
            QCOMPARE(combo(d, "Cob_FEC_s_8")->placeholderText(), QStringLiteral("Wrong Value!"));
            clickButton(d, "Btn_ok");
            QCOMPARE(MessageBox::shownTexts().size(), 2);
            combo(d, "Cob_FEC_s_8")->setCurrentIndex(2);
            clickButton(d, "Btn_ok");
        });
        QCOMPARE(form.Init_Form_TpSet(&record, &device), int(QDialog::Accepted));
        QCOMPARE(device.sent.size(), size_t(1));
        QCOMPARE(device.sent.front().code, msg::ModifyTp);
        QCOMPARE(device.sent.front().data,
                 (std::vector<uint8_t>{9, 2, 8, 10, 0x00, 0x0F, 0x6C, 0x6B, 3, 1, 1, 2}));
        QCOMPARE(record.wire[8], uint8_t(7)); // the stored record is left to the device's answer
    }

    void addTpThenOkAtOnce()
    {
        TpForm form;
        RecordingDevice device;
        const SatelliteRecord satellite = storedSatellite();
        whileOpen([&](QDialog* d) {
            QCOMPARE(edit(d, "Edt_fre")->text(), QStringLiteral("0"));
            QCOMPARE(edit(d, "Edt_sym")->text(), QString());
            clickButton(d, "Btn_ok");
            QCOMPARE(lastBox(), QStringLiteral("'' is not a valid integer value"));
            QVERIFY(d->isVisible());
            QCOMPARE(static_cast<TpForm*>(d)->SatelliteIndex(), 3);
            // A symbol rate but the frequency still 0.
            edit(d, "Edt_sym")->setText(QStringLiteral("27500"));
            clickButton(d, "Btn_ok");
            QCOMPARE(lastBox(), QStringLiteral("Please check and re-set!"));
            QVERIFY(d->isVisible());
            // 65536 would wrap to 0; it is refused by name.
            edit(d, "Edt_fre")->setText(QStringLiteral("3840"));
            edit(d, "Edt_sym")->setText(QStringLiteral("65536"));
            clickButton(d, "Btn_ok");
            QCOMPARE(lastBox(), QStringLiteral("'65536' is out of range (0 to 65535)"));
            QVERIFY(d->isVisible());
        });
        QCOMPARE(form.Init_Form_TpAdd(&satellite, &device), int(QDialog::Rejected));
        QVERIFY(device.sent.empty());
        QCOMPARE(form.Mode(), TpDialogMode::Idle);
        QCOMPARE(form.SatelliteIndex(), 255);
    }

    void tpWithoutArgumentsOnlyTellsSo()
    {
        TpForm form;
        RecordingDevice device;
        const TpRecord record = storedTp(0, 0);
        SatelliteRecord noIndex = storedSatellite();
        noIndex.wire[0] = kNoIndex;
        QCOMPARE(form.Init_Form_TpSet(nullptr, &device), int(QDialog::Rejected));
        QCOMPARE(form.Init_Form_TpSet(&record, nullptr), int(QDialog::Rejected));
        QCOMPARE(form.Init_Form_TpAdd(nullptr, &device), int(QDialog::Rejected));
        QCOMPARE(form.Init_Form_TpAdd(&noIndex, &device), int(QDialog::Rejected));
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList({QStringLiteral("Init_Form_TpSet(): NO argument!"),
                              QStringLiteral("Init_Form_TpSet(): NO argument!"),
                              QStringLiteral("Init_Form_TpAdd(): NO argument!"),
                              QStringLiteral("Init_Form_TpAdd(): NO argument!")}));
        QVERIFY(device.sent.empty());
    }
};

QTEST_MAIN(SatTpFormsTest)
#include "sat_tp_forms_test.moc"
