#pragma once

#include "app/machine_tree.h"

#include <QString>

namespace vireo {
class HistoryService;
class MachineManager;
struct SessionContext;
} // namespace vireo

namespace vireo::ui {

class MdiChild;
class SatForm;
class TpForm;

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

    // Device windows open, whether or not shown in the frame yet.
    virtual int DocumentWindowCount() const = 0;
    // `window` is the only device window the frame shows: closing it leaves
    // the toolbar nothing to reflect.
    virtual bool IsLastShownWindow(const MdiChild* window) const = 0;
    // Makes `window`'s widgets and shows it maximised in the frame, the
    // current machine.
    virtual void PlaceDeviceWindow(MdiChild* window) = 0;
    // A device window teardown is under way; main-window commands wait.
    virtual void SetWindowClosing(bool closing) = 0;

    // The satellite and transponder dialogs: made once by the main window,
    // which outlives every device window, and lent to the window that opens
    // them (null before the main window has made them).
    virtual SatForm* SatelliteDialog() = 0;
    virtual TpForm* TransponderDialog() = 0;
    // `window` is closing: a dialog the main window opened for it ends as if
    // cancelled, before anything of the window is freed.
    virtual void DeviceWindowClosing(MdiChild* window) = 0;
    // `window` begins to connect (the device reports only how it ended).
    virtual void DeviceConnecting(MdiChild* /*window*/) {}

    // The signal history and alarms of the program; null when none is kept.
    virtual HistoryService* History() { return nullptr; }
};

} // namespace vireo::ui
