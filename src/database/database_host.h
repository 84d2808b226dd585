#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vireo {

class ProgramTree;

// What the device database needs of its device window and session. Calls come
// from the session thread (reply handling) and from the user-interface thread
// (tab changes, commands). The database holds none of its own locks while it
// calls Log, RequestDisconnect, ShowSignalSource, PostAddressCheck,
// FlushNeighbourCache, StartFullRefresh, PauseFor and ShowSystemItem (which
// may read the database again). SendRequest, NumberMode, SignalSourceIsAsi,
// SetShowRadio and PlayingChanged may come with list locks held: they must not
// block on another thread nor call back into the database.
class DatabaseHost
{
public:
    virtual ~DatabaseHost() = default;

    // Queues a request (code, two small arguments, optional record). Returns
    // the queue's result: true only when the request could not be queued.
    virtual bool SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data) = 0;
    // The device reported a reset or a changed signal source: end the session.
    virtual void RequestDisconnect() = 0;
    // The window is being torn down: no new record is made.
    virtual bool IsClosing() const = 0;
    // One line for the device log pane (the prefix is the window's).
    virtual void Log(std::string_view text) = 0;

    // The window's signal source selector: 0 "LNB IN", 1 "ASI IN".
    virtual void ShowSignalSource(int value) = 0;
    virtual bool SignalSourceIsAsi() const = 0;

    // The device took a new network address: check it in the UI thread.
    virtual void PostAddressCheck(std::array<uint8_t, 4> address) = 0;
    // Drop this host's cached address mappings, so that no stale mapping of
    // the device's old address survives. Must not block.
    virtual void FlushNeighbourCache() = 0;

    // 1 decimal, 2 hexadecimal: the format of new PID lines.
    virtual int NumberMode() const = 0;
    // Whether a display of `kind` happens now: the window is the active one
    // or shows the kind's tab. For the system kinds (7, 8) an active window
    // also enables the "System Setting" tab.
    virtual bool ShouldDisplay(int kind) = 0;
    // Kinds 7 and 8 are drawn by the system settings page.
    virtual int ShowSystemItem(int kind, bool force) = 0;
    // Ticks "Show Radio" (a radio program started playing).
    virtual void SetShowRadio() = 0;
    // The playing program changed; the next signal log line names it.
    virtual void PlayingChanged() = 0;
    // A full refresh of the device, with its log line "Update IRD Information".
    virtual void StartFullRefresh() = 0;
    // Waits `milliseconds`, ending early when the session stops.
    virtual void PauseFor(long milliseconds) = 0;

    virtual ProgramTree& TvTree() = 0;
    virtual ProgramTree& RadioTree() = 0;
};

} // namespace vireo
