#pragma once

#include <string>

namespace vireo {

class MachineEntry;

// What the machine registry needs from a device window. The widget class
// implements it; the registry never owns a window.
//
// Caption, IsClosing, Entry and SetEntry must be plain accessors: the registry
// may call them with its lock held. Activate, ShowAndRaise, Teardown and Close
// are always called without the lock, so they may call back into the registry
// and may wait for the window's threads.
class MachineWindow
{
public:
    virtual ~MachineWindow() = default;

    // Address ":" name, 8-bit text (GBK for Chinese names).
    virtual std::string Caption() const = 0;
    // Set once the teardown has begun; never cleared.
    virtual bool IsClosing() const = 0;

    // The window's own activation: current mark and toolbar state.
    virtual void Activate() = 0;
    // Shows the window and brings it to the front.
    virtual void ShowAndRaise() = 0;
    // Stops the session and releases it once; removes the window's entry
    // from the registry. A second call does nothing.
    virtual void Teardown() = 0;
    // Closes the window. It may be destroyed by this call.
    virtual void Close() = 0;

    // Link back to the window's registry entry, or null.
    virtual MachineEntry* Entry() const = 0;
    virtual void SetEntry(MachineEntry* entry) = 0;
};

} // namespace vireo
