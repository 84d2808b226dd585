#pragma once

#include "dialogs/satellite_fields.h"
#include "dialogs/tp_fields.h"
#include "link/device_session.h"

#include <cstdint>
#include <optional>
#include <span>

namespace vireo::ui {

// The device the satellite and transponder dialogs send their request to.
// The dialogs hand the request over and close; they never wait for the
// device's answer.
class FormDevice
{
public:
    virtual ~FormDevice() = default;
    // Queues one request, as the device session's SendRequest does.
    virtual bool SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data) = 0;

    // The satellite or transponder of that index as the device's lists hold
    // it now (its links may have changed while the dialog was open); none
    // when it is not held or the device keeps no lists.
    virtual std::optional<SatelliteWire> HeldSatellite(uint8_t /*index*/) { return std::nullopt; }
    virtual std::optional<TpWire> HeldTp(uint8_t /*index*/) { return std::nullopt; }
};

using SatFormDevice = FormDevice;
using TpFormDevice = FormDevice;

// A device window's session as the dialogs' device, e.g.
//   SessionFormDevice device(window->Session());
//   satForm->Init_Form_SatSet(&record, &device);
class SessionFormDevice : public FormDevice
{
public:
    explicit SessionFormDevice(DeviceSession& session) : m_session(session) {}
    bool SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data) override
    {
        return m_session.SendRequest(code, a, b, data);
    }

private:
    DeviceSession& m_session;
};

} // namespace vireo::ui
