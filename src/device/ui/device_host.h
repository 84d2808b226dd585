#pragma once

#include "app/machine_tree.h"

#include <QString>

namespace vireo {
class MachineManager;
struct SessionContext;
} // namespace vireo

namespace vireo::ui {

class MdiChild;

// What a device window needs from the main window that holds it.
class DeviceHost
{
public:
    virtual ~DeviceHost() = default;

    virtual MachineManager& Registry() = 0;
    virtual SessionContext& Context() = 0;

    // True when the main toolbar reflects `child` (it is the active document).
    virtual bool ReflectsToolbar(const MdiChild* child) const = 0;
    // The connect switch down (pressed, image 2) or up (released, image 1).
    virtual void SetSwitchDown(bool down) = 0;
    virtual void SetRenewUpgradeEnabled(bool enabled) = 0;
    // Close, switch, renew and upgrade disabled; the switch up.
    virtual void ResetToolbar() = 0;

    // A note after the text of the machine's node (an upgrade's progress);
    // empty removes it.
    virtual void SetMachineMark(NodeId node, const QString& mark) = 0;

    virtual int DocumentWindowCount() const = 0;
    // A device window teardown is under way; main-window commands wait.
    virtual void SetWindowClosing(bool closing) = 0;
};

} // namespace vireo::ui
