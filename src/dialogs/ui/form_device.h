#pragma once

#include "link/device_session.h"

#include <cstdint>
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
