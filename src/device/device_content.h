#pragma once

#include "link/basic_content.h"
#include "link/device_view.h"
#include "link/session_content.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vireo {

class DeviceView;
class LogBuffer;
class ProgramTree;

// The device's system record as it travels on the wire.
using SystemRecordBytes = std::array<uint8_t, 20>;

// What a device window lends the content it plugs into its session. The
// window outlives the content, and the content outlives the session.
struct ContentHost
{
    LogBuffer& log;
    DeviceView& view;
    ProgramTree& tvTree;
    ProgramTree& radioTree;
};

// The device database and reply dispatcher of one device window, with what
// the window's menus and tabs need to know of it. The window creates its
// content through a ContentFactory, so the full database can take the place
// of the link-only content without the window changing.
class DeviceContent : public SessionContent
{
public:
    // A full refresh has completed (the "loaded" flag of the database).
    virtual bool DataLoaded() const { return false; }
    // The system record as last received, if any.
    virtual std::optional<SystemRecordBytes> SystemRecord() const { return std::nullopt; }
    // The device's version (loader major, minor, software major, minor) once
    // the device has reported it.
    virtual std::optional<std::array<uint8_t, 4>> DeviceVersion() const { return std::nullopt; }
    // The programs tab or the system tab has been shown while the session
    // runs; the content redisplays what that tab shows.
    virtual void ProgramsTabShown() {}
    virtual void SystemTabShown() {}
    // The session the content serves; set once the window has made it.
    virtual void AttachSession(DeviceSession* /*session*/) {}
    // The window became (in)active or shows another tab (0 programs, 1 system).
    virtual void SetWindowState(bool /*active*/, int /*shownTab*/) {}
    // The operator (un)ticked "Show Radio".
    virtual void SetShowRadio(bool /*shown*/) {}

    // The "System Setting" page's commands, from the UI thread. The first
    // three send SetSystemInfo built from the held record and return 9 when
    // they sent a reset or a new signal source, 11 without a held record,
    // 0 otherwise (nothing to send included).
    virtual int ApplySystemSettings(const SystemSettings& /*page*/) { return 11; }
    virtual int ChangeSignalSource(int /*source*/) { return 11; }
    virtual int FactoryReset() { return 11; }
    // SetVolume for a volume action (2 mute, 3 sound on, 4 down, 5 up).
    virtual int SendVolumeCommand(int /*action*/) { return 8; }
    // "Cancel": the page shows the held record again.
    virtual void RedisplaySystemSettings() {}
};

using ContentFactory = std::function<std::unique_ptr<DeviceContent>(const ContentHost&)>;

// Link-level reply handling only (no device database): requests are released
// by their answers and link statuses are logged.
class BasicDeviceContent : public DeviceContent
{
public:
    void CreateDatabase() override { m_basic.CreateDatabase(); }
    void EnsureDatabase() override { m_basic.EnsureDatabase(); }
    void DestroyDatabase() override { m_basic.DestroyDatabase(); }
    bool HasPlayingProgram() const override { return m_basic.HasPlayingProgram(); }
    void Dispatch(DeviceSession& session, uint8_t currentCode, const uint8_t* frame,
                  uint8_t length) override
    {
        m_basic.Dispatch(session, currentCode, frame, length);
    }

private:
    BasicContent m_basic;
};

// The factory the program uses until the device database is plugged in.
ContentFactory BasicContentFactory();

} // namespace vireo
