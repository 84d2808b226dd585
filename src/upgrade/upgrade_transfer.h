#pragma once

#include "upgrade/upgrade_file.h"
#include "upgrade/upgrade_frame.h"

#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vireo {

class DeviceSession;

// The firmware upgrade of one device: what the operator chose (type and
// file) and the thread body that sends the file once the device has accepted
// the upgrade. It speaks the upgrade frames over the session's link: the
// handshake, the version check, the announcement, the 1024-byte blocks the
// device asks for one at a time, and the device's writing progress; at the
// end it gives the window back to a new session, or disconnects it.
class UpgradeTransfer
{
public:
    // Seconds a header or a payload may take to arrive in full.
    static constexpr long kReadLimitSeconds = 25;

    // `deviceVersion` reads the version the device reported (none when it
    // has not). The transfer installs itself as the session's hand-over.
    UpgradeTransfer(DeviceSession& session,
                    std::function<std::optional<upgrade::VersionId>()> deviceVersion);
    UpgradeTransfer(const UpgradeTransfer&) = delete;
    UpgradeTransfer& operator=(const UpgradeTransfer&) = delete;

    // The operator's choice, kept until the next one: the path as the file
    // system takes it, and as the log shows it (the path itself when empty),
    // through DisplayText: a file name may hold any byte but '/' and NUL.
    void SetJob(int type, std::string path, std::string shownPath = {});
    int Type() const;
    std::string Path() const;

    // The upgrade thread.
    void Run();

    // The image held in memory while a transfer runs (empty otherwise).
    size_t HeldImageBytes() const;

private:
    bool handshake(const std::string& path, upgrade::VersionId& fileVersion);
    bool announce(int type, const std::string& path, const upgrade::VersionId& fileVersion);
    bool sendAnnouncement(int type);
    // Block stage; true when the device has taken the image.
    bool sendBlocks(int type);
    void followWriting();
    void finish(bool quietEnd);

    // One whole frame within the read limit; false on any failure.
    bool readFrame(upgrade::UpgradeFrame& frame);
    bool readExactly(uint8_t* into, size_t count);
    bool sendFrame(uint16_t type, const uint8_t* payload, size_t size);
    // An incoming type the protocol does not know: the operator is told and
    // the transfer waits until the message is closed (or the session stops).
    void reportUnknown(uint16_t type);
    // A read or send failed, or the device reported a failure.
    void fail();
    void log(int row, const std::string& tail = {});
    void showProgress(int stage, int percent);

    DeviceSession& m_session;
    std::function<std::optional<upgrade::VersionId>()> m_deviceVersion;

    mutable std::mutex m_jobMutex;
    int m_type = upgrade::upgrade_type::None;
    std::string m_path;
    std::string m_shownPath;

    // Transfer state, owned by the upgrade thread.
    mutable std::mutex m_imageMutex; // the image's life, read by HeldImageBytes
    std::vector<uint8_t> m_image;
    size_t m_position = 0;
    int m_blocks = 0;
    int m_blocksSent = 0;
    int m_lastPercent = -1;
    // The device's last word on the upgrade: 0 written, else its failure
    // status; kResultStopped when it never said.
    static constexpr int kResultStopped = -1;
    int m_result = kResultStopped;
    // The versions of the device and of the file, as the handshake read them
    // ("1.2.3.4"; empty until then), for the record of the upgrade's end.
    std::string m_versionBefore;
    std::string m_versionAfter;
    std::vector<uint8_t> m_announcement;
    std::vector<uint8_t> m_sendBuffer;
    std::vector<uint8_t> m_payload;
};

} // namespace vireo
