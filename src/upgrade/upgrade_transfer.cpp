#include "upgrade/upgrade_transfer.h"

#include "lang/display_text.h"
#include "lang/language_table.h"
#include "link/device_session.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace vireo {

using namespace upgrade;

namespace {
constexpr int kRowCommunicationFailed = 147;
constexpr int kRowBeginUpgrading = 157;
constexpr int kRowDeviceVersion = 158;
constexpr int kRowFileVersion = 159;
constexpr int kRowFileError = 160;
constexpr int kRowTotalBlocks = 161;
constexpr int kRowTransporting = 162;
constexpr int kRowTransferred = 163;
constexpr int kRowWriting = 164;
constexpr int kRowUpgraded = 165;

constexpr int kStageIdle = 0;
constexpr int kStageSending = 1;
constexpr int kStageWriting = 2;

// The final stage gives up after this many other frames in a row.
constexpr int kUnexpectedLimit = 3;

bool isKnownIncoming(uint16_t type)
{
    switch (type) {
    case frame_type::DeviceId:
    case frame_type::Ready:
    case frame_type::BlockRequest:
    case frame_type::Block:
    case frame_type::Status:
    case frame_type::Report:
    case frame_type::Hello:
    case frame_type::Progress:
        return true;
    default:
        return IsUpgradeType(type);
    }
}
} // namespace

UpgradeTransfer::UpgradeTransfer(DeviceSession& session,
                                 std::function<std::optional<VersionId>()> deviceVersion)
    : m_session(session), m_deviceVersion(std::move(deviceVersion))
{
    m_session.SetUpgradeHandOver([this] { Run(); });
}

void UpgradeTransfer::SetJob(int type, std::string path, std::string shownPath)
{
    std::lock_guard lock(m_jobMutex);
    m_type = type;
    m_shownPath = DisplayText(shownPath.empty() ? path : shownPath);
    m_path = std::move(path);
}

int UpgradeTransfer::Type() const
{
    std::lock_guard lock(m_jobMutex);
    return m_type;
}

std::string UpgradeTransfer::Path() const
{
    std::lock_guard lock(m_jobMutex);
    return m_path;
}

size_t UpgradeTransfer::HeldImageBytes() const
{
    std::lock_guard lock(m_imageMutex);
    return m_image.size();
}

void UpgradeTransfer::log(int row, const std::string& tail)
{
    m_session.Log().AddLogLine(GetLangText(row) + tail);
}

void UpgradeTransfer::showProgress(int stage, int percent)
{
    DeviceView::UpgradeProgress progress;
    progress.stage = stage == kStageSending   ? DeviceView::UpgradeProgress::Stage::Sending
                     : stage == kStageWriting ? DeviceView::UpgradeProgress::Stage::Writing
                                              : DeviceView::UpgradeProgress::Stage::Idle;
    progress.blocksSent = m_blocksSent;
    progress.blocksTotal = m_blocks;
    progress.percent = std::clamp(percent, 0, 100);
    m_session.View().ShowUpgradeProgress(progress);
}

void UpgradeTransfer::Run()
{
    DeviceSession& s = m_session;
    int type;
    std::string path;
    std::string shownPath;
    {
        std::lock_guard lock(m_jobMutex);
        type = m_type;
        path = m_path;
        shownPath = m_shownPath;
    }
    log(kRowBeginUpgrading, shownPath);
    m_result = kResultStopped;
    s.Observers().Event(DeviceEvent::Kind::UpgradeStarted, type, shownPath);
    s.stop = s.closing.load();
    s.upgradeRunning = true;
    s.View().SetToolbarRefreshEnabled(false);
    m_blocks = 0;
    m_blocksSent = 0;
    m_lastPercent = -1;
    m_versionBefore.clear();
    m_versionAfter.clear();

    bool quietEnd = false;
    VersionId fileVersion{};
    if (handshake(path, fileVersion) && !s.stop && announce(type, path, fileVersion)) {
        showProgress(kStageSending, 0);
        if (sendBlocks(type)) {
            followWriting();
        } else {
            quietEnd = !s.stop;
        }
    }
    finish(quietEnd);
}

bool UpgradeTransfer::handshake(const std::string& path, VersionId& fileVersion)
{
    DeviceSession& s = m_session;
    while (!s.stop) {
        if (!s.linked) {
            if (!s.ConnectIrd()) {
                s.RequestDisconnect();
            }
            continue;
        }
        if (!sendFrame(frame_type::Hello, nullptr, 0)) {
            fail();
            return false;
        }
        UpgradeFrame frame;
        const bool read = readFrame(frame);
        if (!read || frame.type != frame_type::DeviceId) {
            // An unknown type is shown to the operator first; then, like any
            // other frame but the device's id, it ends the handshake.
            if (read && !isKnownIncoming(frame.type)) {
                reportUnknown(frame.type);
            }
            if (!s.stop) {
                fail();
            }
            return false;
        }
        if (!sendFrame(frame_type::Ready, nullptr, 0)) {
            fail();
            return false;
        }
        const VersionId device =
            m_deviceVersion ? m_deviceVersion().value_or(VersionId{}) : VersionId{};
        m_versionBefore = FormatVersionId(device);
        log(kRowDeviceVersion, m_versionBefore);
        const std::optional<VersionId> file = ReadFileVersion(path);
        if (file) {
            m_versionAfter = FormatVersionId(*file);
            log(kRowFileVersion, m_versionAfter);
        }
        if (!file || !IsNewer(*file, device)) {
            log(kRowFileError);
            s.RequestDisconnect();
            return false;
        }
        fileVersion = *file;
        return true;
    }
    return false;
}

bool UpgradeTransfer::announce(int type, const std::string& path, const VersionId& fileVersion)
{
    // The file is read again, whole: what is sent is what is held. A file
    // that has lost its image, or changed its version since the check, is
    // not announced.
    std::optional<UpgradeImage> image = ReadUpgradeImage(path);
    if (!image || image->version != fileVersion) {
        log(kRowFileError);
        m_session.RequestRestart();
        return false;
    }
    {
        std::lock_guard lock(m_imageMutex);
        m_image = std::move(image->data);
    }
    m_position = 0;
    m_blocks = BlockCount(m_image.size());
    m_announcement = AnnouncePayload(type, fileVersion, static_cast<uint32_t>(m_image.size()));
    if (!sendAnnouncement(type)) {
        log(kRowFileError);
        m_session.RequestRestart();
        return false;
    }
    log(kRowTotalBlocks, std::to_string(m_blocks));
    return true;
}

bool UpgradeTransfer::sendAnnouncement(int type)
{
    return sendFrame(static_cast<uint16_t>(type), m_announcement.data(), m_announcement.size());
}

bool UpgradeTransfer::sendBlocks(int type)
{
    DeviceSession& s = m_session;
    while (!s.stop) {
        UpgradeFrame frame;
        if (!readFrame(frame)) {
            fail();
            return true; // not a quiet end
        }
        switch (frame.type) {
        case frame_type::DeviceId:
            if (!sendAnnouncement(type)) {
                fail();
                return true;
            }
            break;
        case frame_type::BlockRequest: {
            const size_t remaining = m_image.size() - m_position;
            if (remaining == 0) {
                return false; // asked for more than there is
            }
            const size_t n = std::min(kBlockSize, remaining);
            const int percent = m_blocksSent * 100 / m_blocks;
            if (percent == m_lastPercent) {
                s.Log().AppendToLastLine(".");
            } else {
                log(kRowTransporting, std::to_string(percent) + "%!");
                m_lastPercent = percent;
                showProgress(kStageSending, percent);
            }
            if (!sendFrame(frame_type::Block, m_image.data() + m_position, n)) {
                fail();
                return true;
            }
            ++m_blocksSent;
            m_position += n;
            break;
        }
        case frame_type::Status:
            if (frame.value != 0) {
                fail();
                return true;
            }
            showProgress(kStageWriting, 0);
            log(kRowTransferred);
            if (!sendFrame(frame_type::Progress, nullptr, 0)) {
                fail();
                return true;
            }
            return true;
        default:
            if (!isKnownIncoming(frame.type)) {
                reportUnknown(frame.type);
            }
            break; // ignored here
        }
    }
    return true;
}

void UpgradeTransfer::followWriting()
{
    DeviceSession& s = m_session;
    int unexpected = 0;
    while (!s.stop) {
        UpgradeFrame frame;
        if (!readFrame(frame)) {
            fail();
            return;
        }
        if (frame.type == frame_type::Progress) {
            unexpected = 0;
            log(kRowWriting, std::to_string(frame.value) + "%!");
            showProgress(kStageWriting, static_cast<int>(frame.value));
            if (!sendFrame(frame_type::Progress, nullptr, 0)) {
                fail();
                return;
            }
        } else if (frame.type == frame_type::Status) {
            s.RequestRestart();
            m_result = static_cast<int>(frame.value);
            if (frame.value == 0) {
                showProgress(kStageWriting, 100);
                log(kRowUpgraded);
            } else {
                log(kRowCommunicationFailed);
            }
            return;
        } else {
            if (!isKnownIncoming(frame.type)) {
                reportUnknown(frame.type);
            }
            if (++unexpected >= kUnexpectedLimit) {
                fail();
                return;
            }
            if (!sendFrame(frame_type::Progress, nullptr, 0)) {
                fail();
                return;
            }
        }
    }
}

void UpgradeTransfer::finish(bool quietEnd)
{
    DeviceSession& s = m_session;
    {
        std::lock_guard lock(m_imageMutex);
        std::vector<uint8_t>().swap(m_image);
    }
    std::vector<uint8_t>().swap(m_payload);
    s.upgradeEnded = true;
    s.upgradeRunning = false;
    // The record of the upgrade names the versions before and after (the
    // file's, which the device runs once written).
    std::string detail =
        m_result == 0 ? "upgraded" : (m_result == kResultStopped ? "stopped" : "failed");
    if (!m_versionBefore.empty() || !m_versionAfter.empty()) {
        detail += ", version " + (m_versionBefore.empty() ? "?" : m_versionBefore) + " -> " +
                  (m_versionAfter.empty() ? "?" : m_versionAfter);
    }
    s.Observers().Event(DeviceEvent::Kind::UpgradeEnded, m_result, detail);
    showProgress(kStageIdle, 0);
    if (s.closing) {
        return;
    }
    if (s.disconnectRequested || s.upgradeRequested) {
        s.DisconnectCleanUp();
    } else if (s.restartRequested || quietEnd) {
        // A device that asks for a block after the last one has all it needs:
        // the window gets a new session, as after a finished upgrade, only
        // without a line of its own.
        s.RestartCleanUp();
        s.RestartAfterUpgrade();
    }
}

void UpgradeTransfer::fail()
{
    if (m_session.closing || m_session.disconnectRequested) {
        // Stopped from outside (window closing, operator's disconnect): the
        // end step does what was asked.
        return;
    }
    log(kRowCommunicationFailed);
    m_session.RequestRestart();
}

bool UpgradeTransfer::readFrame(UpgradeFrame& frame)
{
    uint8_t header[kHeaderSize];
    if (!readExactly(header, kHeaderSize)) {
        return false;
    }
    const FrameHeader parsed = ParseHeader(header);
    const size_t size = parsed.PayloadSize();
    if (size > kMaxPayload) {
        return false;
    }
    m_payload.resize(size);
    if (size > 0 && !readExactly(m_payload.data(), size)) {
        return false;
    }
    frame = DecodeFrame(parsed, m_payload);
    return true;
}

bool UpgradeTransfer::readExactly(uint8_t* into, size_t count)
{
    // TCP may deliver a frame in pieces: keep reading until the count is
    // complete, within one limit for the whole count.
    using Clock = std::chrono::steady_clock;
    DeviceSession& s = m_session;
    const auto second = s.Timing().Scaled(1000);
    const auto deadline = Clock::now() + second * kReadLimitSeconds;
    size_t got = 0;
    while (got < count) {
        if (s.stop) {
            return false;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return false;
        }
        int limit = static_cast<int>(left / second);
        const int n = s.Socket().Receive(into + got, count - got, limit);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n < 0 || s.Socket().PeerClosed()) {
            return false;
        }
        // 0 without a close: the wait was cut short; read on.
    }
    return true;
}

bool UpgradeTransfer::sendFrame(uint16_t type, const uint8_t* payload, size_t size)
{
    EncodeFrameInto(m_sendBuffer, type, std::span(payload, size));
    if (m_session.Socket().Send(m_sendBuffer.data(), m_sendBuffer.size()) < 0) {
        m_session.linked = false;
        return false;
    }
    return true;
}

void UpgradeTransfer::reportUnknown(uint16_t type)
{
    DeviceSession& s = m_session;
    auto read = std::make_shared<bool>(false);
    auto waiter = s.Waiter();
    s.View().ShowUpgradeNotice("Unknown frame: " + std::to_string(static_cast<int16_t>(type)),
                               [read, waiter] {
                                   {
                                       std::lock_guard lock(waiter->mutex);
                                       *read = true;
                                   }
                                   waiter->changed.notify_all();
                               });
    s.WaitUntil([&] { return *read; });
}

} // namespace vireo
