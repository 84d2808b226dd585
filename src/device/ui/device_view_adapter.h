#pragma once

#include "link/device_view.h"

namespace vireo::ui {

class MdiChild;

// The device link's view of its window. Each call, from the session thread or
// the UI thread, is re-posted to the window in order and never blocks the
// caller; a call that arrives after the window is gone is dropped.
class DeviceViewAdapter : public DeviceView
{
public:
    explicit DeviceViewAdapter(MdiChild& window) : m_window(window) {}

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

private:
    template <typename F> void post(F&& apply);

    MdiChild& m_window;
};

} // namespace vireo::ui
