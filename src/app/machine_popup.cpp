#include "app/machine_popup.h"

namespace vireo {

MachinePopup ComputeMachinePopup(const MachinePopupInput& in)
{
    MachinePopup p;
    p.show.enabled = true;
    p.close.enabled = true;

    using Node = MachinePopupInput::Node;
    if (in.node == Node::Root) {
        p.newItem = {true, true};
        return p;
    }
    if (in.node != Node::Machine || !in.hasWindow) {
        return p;
    }

    if (in.everConnected) {
        p.disconnect.enabled = true;
    } else {
        p.reconnect.enabled = true;
        p.modify = {true, true};
    }
    p.show.visible = true;
    p.close.visible = true;
    p.reconnect.visible = true;
    p.disconnect.visible = true;

    if (!in.disconnectRequested && in.everConnected && !in.upgradeRunning) {
        p.upgrade = {true, true};
        if (in.dataLoaded) {
            p.update = {true, true};
        }
        if (in.hasSystemRecord) {
            p.config.enabled = true;
        }
    }
    p.config.visible = true;
    p.newItem = {true, true};
    return p;
}

} // namespace vireo
