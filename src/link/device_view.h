#pragma once

#include <array>
#include <cstdint>

namespace vireo {

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
