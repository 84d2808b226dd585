#include "dialogs/tp_fields.h"

#include <gtest/gtest.h>
#include <string>

using namespace vireo;

namespace {

TpWire storedTp()
{
    // Index 9 on satellite 2, between 8 and 10: 3840 H 27500, 8PSK_S2, pilot
    // Open, FEC 2.
    return {9, 2, 8, 10, 0x00, 0x0F, 0x6C, 0x6B, 1, 1, 1, 2};
}

TpFields validEntries()
{
    TpFields f;
    f.frequency = "4000";
    f.symbolRate = "30000";
    return f;
}

} // namespace

TEST(TpFields, FecListsPerModulation)
{
    EXPECT_EQ(ModulationTexts().size(), 4u);
    EXPECT_EQ(FecTexts(0).size(), 8u);
    EXPECT_EQ(FecTexts(1).size(), 6u);
    EXPECT_EQ(FecTexts(2).size(), 6u);
    EXPECT_EQ(FecTexts(3).size(), 5u);
    EXPECT_TRUE(FecTexts(4).empty());
    EXPECT_TRUE(FecTexts(-1).empty());
    // Index 3 is a different rate in each list.
    EXPECT_STREQ(FecTexts(0)[3], "3_4");
    EXPECT_STREQ(FecTexts(1)[3], "5_6");
    EXPECT_STREQ(FecTexts(2)[0], "Auto");
    EXPECT_STREQ(FecTexts(3)[4], "7_8");
}

TEST(TpFields, FillingFromARecordKeepsTheOtherListsSelections)
{
    TpFields f;
    f.fec = {3, 5, 4, 1};
    FillTpFields(f, storedTp());
    EXPECT_EQ(f.frequency, "3840");
    EXPECT_EQ(f.symbolRate, "27500");
    EXPECT_EQ(f.polarisation, 1);
    EXPECT_EQ(f.pilot, 1);
    EXPECT_EQ(f.modulation, 1);
    EXPECT_EQ(f.fec, (std::array<int, 4>{3, 2, 4, 1}));
    EXPECT_EQ(f.Fec(), 2);

    // Switching the modulation shows that list's own selection.
    f.modulation = 0;
    EXPECT_EQ(f.Fec(), 3);

    TpWire odd = storedTp();
    odd[10] = 7;    // any non-zero polarisation is horizontal
    odd[9] = 2;     // no such pilot item
    odd[11] = 0xFF; // no FEC
    FillTpFields(f, odd);
    EXPECT_EQ(f.polarisation, 1);
    EXPECT_EQ(f.pilot, kNoChoice);
    EXPECT_EQ(f.Fec(), kNoChoice);
}

TEST(TpFields, UnknownModulationLeavesNoModulationAndNoFec)
{
    TpFields f;
    f.fec = {1, 1, 1, 1};
    TpWire r = storedTp();
    r[8] = 7;
    FillTpFields(f, r);
    EXPECT_EQ(f.modulation, kNoChoice);
    EXPECT_EQ(f.fec, (std::array<int, 4>{1, 1, 1, kNoChoice}));
    EXPECT_EQ(f.Fec(), kNoChoice);

    const TpRequest request = BuildTpRequest(TpDialogMode::Modify, r, 0, f);
    EXPECT_TRUE(request.incomplete);
    EXPECT_FALSE(request.Ok());
    EXPECT_EQ(request.record[8], 7); // left as stored
    EXPECT_EQ(request.record[11], 0xFF);

    // Choosing 8PSK_S still finds no FEC rate until one is picked.
    f.modulation = 3;
    EXPECT_TRUE(BuildTpRequest(TpDialogMode::Modify, r, 0, f).incomplete);
    f.fec[3] = 4;
    EXPECT_TRUE(BuildTpRequest(TpDialogMode::Modify, r, 0, f).Ok());
}

TEST(TpFields, ModifyAndAddRecordBytes)
{
    TpFields f = validEntries();
    f.polarisation = 0;
    f.pilot = 0;
    f.modulation = 2;
    f.fec[2] = 5;

    const TpRequest modify = BuildTpRequest(TpDialogMode::Modify, storedTp(), 0xFF, f);
    ASSERT_TRUE(modify.Ok());
    EXPECT_EQ(modify.record, (TpWire{9, 2, 8, 10, 0xA0, 0x0F, 0x30, 0x75, 2, 0, 0, 5}));

    const TpRequest add = BuildTpRequest(TpDialogMode::Add, storedTp(), 6, f);
    ASSERT_TRUE(add.Ok());
    EXPECT_EQ(add.record, (TpWire{0, 6, 0, 0, 0xA0, 0x0F, 0x30, 0x75, 2, 0, 0, 5}));

    // Lists without a selection keep the stored bytes in Modify mode.
    f.pilot = kNoChoice;
    f.polarisation = kNoChoice;
    TpWire stored = storedTp();
    stored[10] = 9;
    const TpRequest kept = BuildTpRequest(TpDialogMode::Modify, stored, 0, f);
    EXPECT_EQ(kept.record[9], 1);
    EXPECT_EQ(kept.record[10], 9);
}

TEST(TpFields, ChecksBeforeSending)
{
    TpFields f;
    ResetTpFieldsForAdd(f);
    EXPECT_EQ(f.frequency, "0");
    EXPECT_EQ(f.symbolRate, "");

    // Add then Ok at once: the empty symbol rate is no number.
    TpRequest r = BuildTpRequest(TpDialogMode::Add, {}, 1, f);
    EXPECT_EQ(r.badField, TpField::SymbolRate);
    EXPECT_EQ(r.fault, WordFault::NotInteger);

    // A symbol rate but frequency still 0: nothing to tune to.
    f.symbolRate = "27500";
    r = BuildTpRequest(TpDialogMode::Add, {}, 1, f);
    EXPECT_EQ(r.badField, TpField::None);
    EXPECT_TRUE(r.incomplete);

    f.frequency = "3840";
    EXPECT_TRUE(BuildTpRequest(TpDialogMode::Add, {}, 1, f).Ok());

    f.symbolRate = "0";
    EXPECT_TRUE(BuildTpRequest(TpDialogMode::Add, {}, 1, f).incomplete);

    // 65536 would wrap to 0; it is refused as out of range instead.
    f.symbolRate = "65536";
    r = BuildTpRequest(TpDialogMode::Add, {}, 1, f);
    EXPECT_EQ(r.badField, TpField::SymbolRate);
    EXPECT_EQ(r.fault, WordFault::OutOfRange);

    // The frequency is read first.
    f.frequency = "x";
    EXPECT_EQ(BuildTpRequest(TpDialogMode::Add, {}, 1, f).badField, TpField::Frequency);
}

TEST(TpFields, AddResetKeepsTheOtherFecLists)
{
    TpFields f;
    f.fec = {kNoChoice, 4, 3, 2};
    f.modulation = 3;
    f.pilot = kNoChoice;
    ResetTpFieldsForAdd(f);
    EXPECT_EQ(f.modulation, 0);
    EXPECT_EQ(f.pilot, 0);
    EXPECT_EQ(f.fec, (std::array<int, 4>{0, 4, 3, 2}));
}
