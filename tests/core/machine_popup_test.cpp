#include "app/machine_popup.h"

#include <gtest/gtest.h>

using namespace vireo;

namespace {

constexpr PopupItemState kHidden{false, false};
constexpr PopupItemState kHiddenEnabled{false, true};
constexpr PopupItemState kShown{true, true};
constexpr PopupItemState kGrey{true, false};

MachinePopupInput machine(bool connected)
{
    MachinePopupInput in;
    in.node = MachinePopupInput::Node::Machine;
    in.hasWindow = true;
    in.everConnected = connected;
    return in;
}

} // namespace

TEST(MachinePopup, RootOffersNewOnly)
{
    MachinePopupInput in;
    in.node = MachinePopupInput::Node::Root;
    const MachinePopup p = ComputeMachinePopup(in);
    EXPECT_EQ(p.newItem, kShown);
    for (const PopupItemState& item :
         {p.reconnect, p.disconnect, p.update, p.config, p.modify, p.upgrade}) {
        EXPECT_EQ(item, kHidden);
    }
    // Show and Close keep their enabled state while hidden.
    EXPECT_EQ(p.show, kHiddenEnabled);
    EXPECT_EQ(p.close, kHiddenEnabled);
}

TEST(MachinePopup, NoNodeOrNoWindowShowsNothing)
{
    MachinePopupInput in;
    MachinePopup p = ComputeMachinePopup(in);
    EXPECT_FALSE(p.newItem.visible);
    EXPECT_FALSE(p.show.visible);

    in.node = MachinePopupInput::Node::Machine;
    in.hasWindow = false;
    p = ComputeMachinePopup(in);
    EXPECT_FALSE(p.newItem.visible);
    EXPECT_FALSE(p.config.visible);
}

TEST(MachinePopup, MachineNotConnectedOffersReconnectAndModify)
{
    const MachinePopup p = ComputeMachinePopup(machine(false));
    EXPECT_EQ(p.newItem, kShown);
    EXPECT_EQ(p.show, kShown);
    EXPECT_EQ(p.close, kShown);
    EXPECT_EQ(p.reconnect, kShown);
    EXPECT_EQ(p.disconnect, kGrey);
    EXPECT_EQ(p.modify, kShown);
    EXPECT_EQ(p.config, kGrey);
    EXPECT_EQ(p.update, kHidden);
    EXPECT_EQ(p.upgrade, kHidden);
}

TEST(MachinePopup, ConnectedMachineGainsUpgradeThenConfigAndUpdateAsDataArrives)
{
    MachinePopupInput in = machine(true);
    MachinePopup p = ComputeMachinePopup(in);
    EXPECT_EQ(p.reconnect, kGrey);
    EXPECT_EQ(p.disconnect, kShown);
    EXPECT_EQ(p.modify, kHidden); // only a machine that is not connected
    EXPECT_EQ(p.upgrade, kShown);
    EXPECT_EQ(p.config, kGrey);
    EXPECT_EQ(p.update, kHidden);

    in.hasSystemRecord = true;
    EXPECT_EQ(ComputeMachinePopup(in).config, kShown);
    in.dataLoaded = true;
    EXPECT_EQ(ComputeMachinePopup(in).update, kShown);
}

TEST(MachinePopup, DisconnectingOrUpgradingWithdrawsUpgradeUpdateAndConfig)
{
    for (const bool disconnecting : {true, false}) {
        MachinePopupInput in = machine(true);
        in.dataLoaded = true;
        in.hasSystemRecord = true;
        in.disconnectRequested = disconnecting;
        in.upgradeRunning = !disconnecting;
        const MachinePopup p = ComputeMachinePopup(in);
        EXPECT_EQ(p.upgrade, kHidden);
        EXPECT_EQ(p.update, kHidden);
        EXPECT_EQ(p.config, kGrey);
        EXPECT_EQ(p.disconnect, kShown);
    }
}
