#pragma once

namespace vireo {

// What the machine tree's popup menu is prepared from: the node under the
// mouse and, for a machine node, the state of its device window.
struct MachinePopupInput
{
    enum class Node {
        None,
        Root,
        Machine,
    };
    Node node = Node::None;
    bool hasWindow = false;
    bool everConnected = false;
    bool disconnectRequested = false;
    bool upgradeRunning = false;
    bool dataLoaded = false;      // the device database holds a complete refresh
    bool hasSystemRecord = false; // the device has sent its system record
};

struct PopupItemState
{
    bool visible = false;
    bool enabled = false;

    bool operator==(const PopupItemState&) const = default;
};

// The nine commands of the popup, in menu order.
struct MachinePopup
{
    PopupItemState newItem;
    PopupItemState show;
    PopupItemState close;
    PopupItemState reconnect;
    PopupItemState disconnect;
    PopupItemState update;
    PopupItemState config;
    PopupItemState modify;
    PopupItemState upgrade;

    bool operator==(const MachinePopup&) const = default;
};

// Every item starts hidden; Show and Close are always enabled, the others
// disabled. The root offers New only. A machine offers Show, Close,
// Re-Connect and Disconnect (one of the two enabled, by whether it is
// connected), Config IP, New, and Modify IP while it is not connected; a
// connected machine that is neither disconnecting nor upgrading adds Upgrade,
// and Update once its data is loaded; Config IP is enabled once the system
// record has arrived.
MachinePopup ComputeMachinePopup(const MachinePopupInput& in);

} // namespace vireo
