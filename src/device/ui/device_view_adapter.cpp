#include "device/ui/device_view_adapter.h"

#include "device/ui/mdi_child.h"

namespace vireo::ui {

template <typename F> void DeviceViewAdapter::post(F&& apply)
{
    QMetaObject::invokeMethod(&m_window, std::forward<F>(apply), Qt::QueuedConnection);
}

void DeviceViewAdapter::SetSystemTabEnabled(bool enabled)
{
    post([w = &m_window, enabled] { w->ApplySystemTabEnabled(enabled); });
}

void DeviceViewAdapter::SetSignalSourceEnabled(bool enabled)
{
    post([w = &m_window, enabled] { w->ApplySignalSourceEnabled(enabled); });
}

void DeviceViewAdapter::SetSignalGauges(int intensity, int quality, bool showText)
{
    post([w = &m_window, intensity, quality, showText] {
        w->ApplySignalGauges(intensity, quality, showText);
    });
}

void DeviceViewAdapter::SetToolbarLinked(bool linked)
{
    post([w = &m_window, linked] { w->ApplyToolbarLinked(linked); });
}

void DeviceViewAdapter::SetToolbarRefreshEnabled(bool enabled)
{
    post([w = &m_window, enabled] { w->ApplyToolbarRefreshEnabled(enabled); });
}

void DeviceViewAdapter::SetMachineState(int code)
{
    post([w = &m_window, code] { w->ApplyMachineState(code); });
}

void DeviceViewAdapter::ShowSignal(const SignalDisplay& signal)
{
    post([w = &m_window, signal] { w->ApplySignal(signal); });
}

void DeviceViewAdapter::ShowSignalSource(int value)
{
    post([w = &m_window, value] { w->ShowSignalSource(value); });
}

void DeviceViewAdapter::ShowRadioTree()
{
    post([w = &m_window] { w->ApplyShowRadio(); });
}

void DeviceViewAdapter::ShowSystemSettings(const SystemSettings& settings)
{
    post([w = &m_window, settings] { w->ApplySystemSettings(settings); });
}

void DeviceViewAdapter::ShowVolume(const VolumeDisplay& volume)
{
    post([w = &m_window, volume] { w->ApplyVolume(volume); });
}

void DeviceViewAdapter::PostRefresh()
{
    post([w = &m_window] { w->RefreshIrd(); });
}

void DeviceViewAdapter::PostAddressCheck(std::array<uint8_t, 4> address)
{
    post([w = &m_window, address] { w->CheckReportedAddress(address); });
}

void DeviceViewAdapter::ShowUpgradeProgress(const UpgradeProgress& progress)
{
    post([w = &m_window, progress] { w->ApplyUpgradeProgress(progress); });
}

void DeviceViewAdapter::ShowUpgradeNotice(const std::string& text, std::function<void()> dismissed)
{
    // A window gone before the call is applied drops it: the upgrade thread
    // stops waiting when the window's teardown stops the session.
    post([w = &m_window, text, dismissed = std::move(dismissed)] {
        w->ShowUpgradeNotice(text, dismissed);
    });
}

} // namespace vireo::ui
