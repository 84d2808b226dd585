#pragma once

#include "device/ui/coalesced_post.h"
#include "link/device_view.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vireo::ui {

class MdiChild;

// The device link's view of its window. Calls come from the session thread or
// the UI thread and never block the caller. What only needs its latest value
// (gauges, machine state, toolbar, the settings shown) is kept here and
// applied at most once per turn of the UI thread's event loop, so a device
// that reports many times a second costs the UI one update per turn and a
// fixed amount of memory. Calls that each matter (upgrade notices) are kept
// in order. Whatever is pending when the window goes is dropped with it.
class DeviceViewAdapter : public DeviceView
{
public:
    explicit DeviceViewAdapter(MdiChild& window);

    void SetSystemTabEnabled(bool enabled) override;
    void SetSignalSourceEnabled(bool enabled) override;
    void SetSignalGauges(int intensity, int quality, bool showText) override;
    void SetToolbarLinked(bool linked) override;
    void SetToolbarRefreshEnabled(bool enabled) override;
    void SetMachineState(int code) override;
    void ShowSignal(const SignalDisplay& signal) override;
    void ShowSignalSource(int value) override;
    void ShowRadioTree() override;
    void ShowSystemSettings(const SystemSettings& settings) override;
    void ShowVolume(const VolumeDisplay& volume) override;
    void PostRefresh() override;
    void PostAddressCheck(std::array<uint8_t, 4> address) override;
    void ShowUpgradeProgress(const UpgradeProgress& progress) override;
    void ShowUpgradeNotice(const std::string& text, std::function<void()> dismissed) override;

    // Updates waiting for the UI thread (each kept value counts once).
    size_t PendingUpdates() const;

private:
    struct Gauges
    {
        int intensity = 0;
        int quality = 0;
        bool showText = false;
    };
    struct Pending
    {
        std::optional<bool> systemTabEnabled;
        std::optional<bool> signalSourceEnabled;
        std::optional<int> signalSource;
        // The gauges as SetSignalGauges or ShowSignal left them, whichever
        // came last.
        std::optional<Gauges> gauges;
        std::optional<SignalDisplay> signal;
        std::optional<int> machineState;
        std::optional<bool> toolbarLinked;
        std::optional<bool> toolbarRefreshEnabled;
        bool showRadio = false;
        std::optional<SystemSettings> settings;
        std::optional<VolumeDisplay> volume;
        std::optional<UpgradeProgress> upgradeProgress;
        std::vector<std::pair<std::string, std::function<void()>>> notices;
        std::optional<std::array<uint8_t, 4>> addressCheck;
        bool refresh = false;

        size_t Count() const;
    };

    void apply(Pending& pending);

    MdiChild& m_window;
    CoalescedPost<Pending> m_pending;
};

} // namespace vireo::ui
