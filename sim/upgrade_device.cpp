#include "sim/upgrade_device.h"

#include "upgrade/upgrade_frame.h"

namespace vireo::sim {

using namespace vireo::upgrade;

namespace {
constexpr uint16_t kUnknownType = 99;
constexpr uint8_t kDeviceId[4] = {0x49, 0x52, 0x44, 0x31}; // "IRD1"

uint32_t big32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
} // namespace

void UpgradeDevice::askForBlock(Step& step, const UpgradeRecord& record)
{
    const int block = static_cast<int>(record.blockSizes.size());
    if (block == m_faults.closeAtBlock) {
        step.close = true;
        return;
    }
    if (block == m_faults.oversizedAtBlock) {
        const std::vector<uint8_t> payload(kMaxPayload + 1, 0x5A);
        std::vector<uint8_t> frame = EncodeFrame(frame_type::BlockRequest);
        frame[2] = static_cast<uint8_t>(payload.size() >> 8);
        frame[3] = static_cast<uint8_t>(payload.size());
        frame.insert(frame.end(), payload.begin(), payload.end());
        step.frames.push_back(std::move(frame));
        return;
    }
    if (block == m_faults.deviceIdAtBlock && !m_deviceIdSent) {
        m_deviceIdSent = true;
        step.frames.push_back(EncodeFrame(frame_type::DeviceId, kDeviceId));
        return; // the next block is asked for once the announcement is back
    }
    if (block == m_faults.unknownTypeAtBlock && !m_unknownSent) {
        m_unknownSent = true;
        step.frames.push_back(EncodeFrame(kUnknownType));
    }
    step.pauseMs = m_faults.blockStepMs;
    step.frames.push_back(EncodeFrame(frame_type::BlockRequest));
}

UpgradeDevice::Step UpgradeDevice::Receive(uint16_t type, std::span<const uint8_t> payload,
                                           UpgradeRecord& record)
{
    Step step;
    if (type == frame_type::Hello) {
        ++record.hellos;
        m_state = State::Idle;
        if (m_faults.unknownTypeAtHello && !m_unknownHelloSent) {
            m_unknownHelloSent = true;
            step.frames.push_back(EncodeFrame(kUnknownType));
            return step;
        }
        step.frames.push_back(EncodeFrame(frame_type::DeviceId, kDeviceId));
        return step;
    }
    if (type == frame_type::Ready) {
        ++record.readies;
        return step;
    }
    if (IsUpgradeType(type)) {
        std::vector<uint8_t> frame = EncodeFrame(type, payload);
        record.announcements.push_back(std::move(frame));
        const bool lengthOnly = AnnouncesLengthOnly(type);
        if (payload.size() != (lengthOnly ? 4u : 8u)) {
            step.frames.push_back(EncodeStatus(1)); // an announcement the device cannot use
            return step;
        }
        if (m_state != State::Announced) {
            // A new image; a repeated announcement goes on with the one begun.
            m_expected = big32(payload.data() + (lengthOnly ? 0 : 4));
            m_versionAnnounced = !lengthOnly;
            if (!lengthOnly) {
                const uint32_t value = big32(payload.data());
                m_version = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
            }
            record.image.clear();
            record.image.reserve(m_expected);
            record.blockSizes.clear();
            m_state = State::Announced;
        }
        askForBlock(step, record);
        return step;
    }
    if (type == frame_type::Block && m_state == State::Announced) {
        record.image.insert(record.image.end(), payload.begin(), payload.end());
        record.blockSizes.push_back(payload.size());
        if (record.image.size() < m_expected) {
            askForBlock(step, record);
            return step;
        }
        if (m_faults.extraBlockRequest && !m_extraAsked) {
            m_extraAsked = true;
            step.frames.push_back(EncodeFrame(frame_type::BlockRequest));
            return step;
        }
        step.frames.push_back(EncodeStatus(m_faults.transferStatus));
        m_state = m_faults.transferStatus == 0 ? State::Transferred : State::Done;
        return step;
    }
    if (type == frame_type::Progress &&
        (m_state == State::Transferred || m_state == State::Writing)) {
        ++record.acknowledgements;
        m_state = State::Writing;
        step.pauseMs = m_faults.writeStepMs;
        if (m_writingStep < m_faults.writing.size()) {
            const int report = m_faults.writing[m_writingStep++];
            if (report < 0) {
                step.frames.push_back(EncodeFrame(frame_type::Report));
            } else {
                const uint8_t percent[2] = {static_cast<uint8_t>(report >> 8),
                                            static_cast<uint8_t>(report)};
                step.frames.push_back(EncodeFrame(frame_type::Progress, percent));
            }
            return step;
        }
        step.frames.push_back(EncodeStatus(m_faults.finalStatus));
        m_state = State::Done;
        if (m_faults.finalStatus == 0) {
            if (m_versionAnnounced) {
                step.install = m_version;
                record.installed = m_version;
            }
            step.restarted = true;
            step.close = true; // the device restarts with its new software
        }
        return step;
    }
    return step; // anything else is not for the device
}

} // namespace vireo::sim
