#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace vireo {

// The basic settings of the "System Setting" page, as the device's system
// record holds them and as the page's controls choose them. A choice of -1
// selects none of its group's buttons: the record holds a value the page has
// no button for.
struct SystemSettings
{
    bool tsLength204 = false; // 204-byte packets, else 188
    int tsOutput = -1;        // 0 De-Scrambled, 1 Original, 2 Off
    int language = -1;        // device menu: 0 Chinese, 1 English
    bool ratio4To3 = false;   // 4:3, else 16:9
    int outputType = -1;      // 0 1080I@50Hz, 1 1080I@60Hz, 2 720P@50Hz, 3 720P@60Hz
    int polling = 0;          // polling interval, 0 to 99999

    bool operator==(const SystemSettings&) const = default;
};

// The volume as the page shows it: the gauge's position and bar colour, and
// the language row of the silence button's caption (it offers the opposite
// of the present state).
struct VolumeDisplay
{
    int volume = 0; // 0 to 15
    bool muted = false;
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    int captionRow = 0;

    bool operator==(const VolumeDisplay&) const = default;
};

// How the device link speaks to its window. Calls come from the session thread
// as well as the UI thread; a widget implementation re-posts each call to the
// UI thread in order and never blocks the caller. (Log lines travel through the
// window's LogBuffer.)
class DeviceView
{
public:
    virtual ~DeviceView() = default;

    virtual void SetSystemTabEnabled(bool enabled) = 0;
    virtual void SetSignalSourceEnabled(bool enabled) = 0;
    // Signal gauges: values 0-99; `showText` false hides their percentages.
    virtual void SetSignalGauges(int intensity, int quality, bool showText) = 0;

    // A signal report: grey gauges at 100 when the signal is not locked,
    // otherwise (when `setValues`) green gauges at the two values; the
    // percentages shown or hidden by `showText`. The default maps it onto
    // SetSignalGauges; a widget that colours its gauges overrides it.
    struct SignalDisplay
    {
        bool showText = false;
        bool grey = false;
        bool setValues = false;
        int intensity = 0;
        int quality = 0;
    };
    virtual void ShowSignal(const SignalDisplay& signal)
    {
        if (signal.grey) {
            SetSignalGauges(100, 100, signal.showText);
        } else if (signal.setValues) {
            SetSignalGauges(signal.intensity, signal.quality, signal.showText);
        }
    }

    // The signal source selector shows what the device reported (0 "LNB IN",
    // 1 "ASI IN"); a radio program started playing, so the radio tree is to
    // be shown. Windows that have these controls override them.
    virtual void ShowSignalSource(int /*value*/) {}
    virtual void ShowRadioTree() {}
    // The system settings page shows the device's settings and its volume.
    virtual void ShowSystemSettings(const SystemSettings& /*settings*/) {}
    virtual void ShowVolume(const VolumeDisplay& /*volume*/) {}

    // The main toolbar, when it reflects this window: the connect switch down
    // (linked) or up, and the Renew and Upgrade buttons.
    virtual void SetToolbarLinked(bool linked) = 0;
    virtual void SetToolbarRefreshEnabled(bool enabled) = 0;

    // The machine's node in the main tree (codes 1, 2, 4, 5).
    virtual void SetMachineState(int code) = 0;

    // Work handed to the UI thread: a full refresh, and the check of an
    // address the device reported for itself.
    virtual void PostRefresh() = 0;
    virtual void PostAddressCheck(std::array<uint8_t, 4> address) = 0;

    // A firmware upgrade's progress: the blocks sent while the image goes to
    // the device, then the share the device has written. Stage Idle ends the
    // display (the upgrade is over, whatever its outcome).
    struct UpgradeProgress
    {
        enum class Stage { Idle, Sending, Writing };
        Stage stage = Stage::Idle;
        int blocksSent = 0;
        int blocksTotal = 0;
        int percent = 0; // 0 to 100
    };
    virtual void ShowUpgradeProgress(const UpgradeProgress& /*progress*/) {}

    // A message for the operator that holds the upgrade until it is read:
    // the window shows `text` and calls `dismissed` (from any thread, at most
    // once) when the operator has closed it. A window that goes away without
    // calling it is fine: the waiting side also ends when its session stops.
    virtual void ShowUpgradeNotice(const std::string& /*text*/, std::function<void()> dismissed)
    {
        dismissed();
    }
};

// A view for a device without a window (tools, benchmarks): everything the
// link shows is dropped.
class NullDeviceView : public DeviceView
{
public:
    void SetSystemTabEnabled(bool) override {}
    void SetSignalSourceEnabled(bool) override {}
    void SetSignalGauges(int, int, bool) override {}
    void SetToolbarLinked(bool) override {}
    void SetToolbarRefreshEnabled(bool) override {}
    void SetMachineState(int) override {}
    void PostRefresh() override {}
    void PostAddressCheck(std::array<uint8_t, 4>) override {}
};

} // namespace vireo
