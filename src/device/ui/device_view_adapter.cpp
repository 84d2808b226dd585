#include "device/ui/device_view_adapter.h"

#include "device/ui/mdi_child.h"

#include <QPointer>

namespace vireo::ui {

DeviceViewAdapter::DeviceViewAdapter(MdiChild& window)
    : m_window(window), m_pending(&window, [this](Pending& pending) { apply(pending); })
{}

size_t DeviceViewAdapter::Pending::Count() const
{
    return systemTabEnabled.has_value() + signalSourceEnabled.has_value() +
           signalSource.has_value() + gauges.has_value() + signal.has_value() +
           machineState.has_value() + toolbarLinked.has_value() +
           toolbarRefreshEnabled.has_value() + showRadio + settings.has_value() +
           volume.has_value() + upgradeProgress.has_value() + notices.size() +
           addressCheck.has_value() + refresh;
}

size_t DeviceViewAdapter::PendingUpdates() const
{
    return m_pending.Inspect([](const Pending& pending) { return pending.Count(); });
}

void DeviceViewAdapter::SetSystemTabEnabled(bool enabled)
{
    m_pending.Update([enabled](Pending& p) { p.systemTabEnabled = enabled; });
}

void DeviceViewAdapter::SetSignalSourceEnabled(bool enabled)
{
    m_pending.Update([enabled](Pending& p) { p.signalSourceEnabled = enabled; });
}

void DeviceViewAdapter::SetSignalGauges(int intensity, int quality, bool showText)
{
    m_pending.Update([&](Pending& p) {
        p.signal.reset();
        p.gauges = Gauges{intensity, quality, showText};
    });
}

void DeviceViewAdapter::ShowSignal(const SignalDisplay& signal)
{
    m_pending.Update([&](Pending& p) {
        // A report that only shows or hides the percentages leaves the
        // values of an earlier one standing.
        if (!signal.grey && !signal.setValues && p.signal) {
            p.signal->showText = signal.showText;
            return;
        }
        if (!signal.grey && !signal.setValues && p.gauges) {
            p.gauges->showText = signal.showText;
            return;
        }
        p.gauges.reset();
        p.signal = signal;
    });
}

void DeviceViewAdapter::SetToolbarLinked(bool linked)
{
    m_pending.Update([linked](Pending& p) { p.toolbarLinked = linked; });
}

void DeviceViewAdapter::SetToolbarRefreshEnabled(bool enabled)
{
    m_pending.Update([enabled](Pending& p) { p.toolbarRefreshEnabled = enabled; });
}

void DeviceViewAdapter::SetMachineState(int code)
{
    m_pending.Update([code](Pending& p) { p.machineState = code; });
}

void DeviceViewAdapter::ShowSignalSource(int value)
{
    m_pending.Update([value](Pending& p) { p.signalSource = value; });
}

void DeviceViewAdapter::ShowRadioTree()
{
    m_pending.Update([](Pending& p) { p.showRadio = true; });
}

void DeviceViewAdapter::ShowSystemSettings(const SystemSettings& settings)
{
    m_pending.Update([&](Pending& p) { p.settings = settings; });
}

void DeviceViewAdapter::ShowVolume(const VolumeDisplay& volume)
{
    m_pending.Update([&](Pending& p) { p.volume = volume; });
}

void DeviceViewAdapter::PostRefresh()
{
    m_pending.Update([](Pending& p) { p.refresh = true; });
}

void DeviceViewAdapter::PostAddressCheck(std::array<uint8_t, 4> address)
{
    // Only the address the device reported last matters.
    m_pending.Update([address](Pending& p) { p.addressCheck = address; });
}

void DeviceViewAdapter::ShowUpgradeProgress(const UpgradeProgress& progress)
{
    m_pending.Update([&](Pending& p) { p.upgradeProgress = progress; });
}

void DeviceViewAdapter::ShowUpgradeNotice(const std::string& text, std::function<void()> dismissed)
{
    // The upgrade thread waits for each notice to be read, so they never pile
    // up. One that is dropped with the window is fine: the waiting side also
    // ends when the window's teardown stops the session.
    m_pending.Update([&](Pending& p) { p.notices.emplace_back(text, std::move(dismissed)); });
}

void DeviceViewAdapter::apply(Pending& p)
{
    MdiChild& w = m_window;
    if (p.systemTabEnabled) {
        w.ApplySystemTabEnabled(*p.systemTabEnabled);
    }
    if (p.signalSourceEnabled) {
        w.ApplySignalSourceEnabled(*p.signalSourceEnabled);
    }
    if (p.signalSource) {
        w.ShowSignalSource(*p.signalSource);
    }
    if (p.gauges) {
        w.ApplySignalGauges(p.gauges->intensity, p.gauges->quality, p.gauges->showText);
    }
    if (p.signal) {
        w.ApplySignal(*p.signal);
    }
    if (p.machineState) {
        w.ApplyMachineState(*p.machineState);
    }
    if (p.toolbarLinked) {
        w.ApplyToolbarLinked(*p.toolbarLinked);
    }
    if (p.toolbarRefreshEnabled) {
        w.ApplyToolbarRefreshEnabled(*p.toolbarRefreshEnabled);
    }
    if (p.showRadio) {
        w.ApplyShowRadio();
    }
    if (p.settings) {
        w.ApplySystemSettings(*p.settings);
    }
    if (p.volume) {
        w.ApplyVolume(*p.volume);
    }
    if (p.upgradeProgress) {
        w.ApplyUpgradeProgress(*p.upgradeProgress);
    }
    for (auto& [text, dismissed] : p.notices) {
        w.ShowUpgradeNotice(text, std::move(dismissed));
    }
    // Last: the address check may ask the operator (a nested event loop in
    // which the window can go), and everything above is shown by then.
    if (p.addressCheck) {
        const QPointer<MdiChild> alive(&w);
        w.CheckReportedAddress(*p.addressCheck);
        if (!alive) {
            return;
        }
    }
    if (p.refresh) {
        w.RefreshIrd();
    }
}

} // namespace vireo::ui
