// Feeds arbitrary frames to the reply dispatcher of a device whose database
// already holds satellites, transponders and programs. Whatever the IRD
// sends, the manager may drop records but must not crash or corrupt memory.
#include "database/list_manager.h"
#include "device/device_core.h"
#include "lang/language_table.h"
#include "link/message_code.h"
#include "link/request_frame.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace vireo;

namespace {

struct Device
{
    Device()
        : core(context, view, "10.0.0.1:Fuzz", LinkTiming{std::chrono::microseconds(0)}, "no-logs")
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
    }
    SessionContext context;
    NullDeviceView view;
    DeviceCore core;
};

void dispatch(Device& d, uint8_t current, uint8_t code, const uint8_t* payload, size_t size)
{
    uint8_t frame[kMaxFrameSize];
    const size_t n = size > kMaxFrameSize - 6 ? kMaxFrameSize - 6 : size;
    if (n > 0) {
        std::memcpy(frame + 3, payload, n);
    }
    FinishFrame(frame, code, static_cast<uint8_t>(n + 2));
    d.core.Content().Dispatch(d.core.Session(), current, frame, frame[2]);
}

// A small, consistent device: 3 satellites, 6 TPs, 8 TV and 4 radio programs.
void populate(Device& d)
{
    d.core.Content().CreateDatabase();
    d.core.Session().refreshed = true;
    d.core.Session().scanState = DeviceSession::kNoScan;
    for (uint8_t s = 0; s < 3; ++s) {
        const uint8_t sat[] = {s,
                               uint8_t(s == 0 ? 0xFF : s - 1),
                               uint8_t(s == 2 ? 0xFF : s + 1),
                               0x11,
                               0x10,
                               0x27,
                               0x40,
                               0x1F,
                               'S',
                               'a',
                               't',
                               0};
        dispatch(d, msg::UpdateAll, msg::SatelliteInfo, sat, sizeof sat);
    }
    for (uint8_t t = 0; t < 6; ++t) {
        const uint8_t tp[] = {t,
                              uint8_t(t / 2),
                              uint8_t(t == 0 ? 0xFF : t - 1),
                              uint8_t(t == 5 ? 0xFF : t + 1),
                              0x2A,
                              0x2F,
                              0xB4,
                              0x6B,
                              2,
                              0,
                              uint8_t(t & 1),
                              3};
        dispatch(d, msg::UpdateAll, msg::TpInfo, tp, sizeof tp);
    }
    for (int kind = 1; kind <= 2; ++kind) {
        const int count = kind == 1 ? 8 : 4;
        for (int i = 0; i < count; ++i) {
            uint8_t p[26] = {uint8_t(i),
                             uint8_t(i + 10),
                             uint8_t(i + 1 == count ? 0xFF : i + 11),
                             uint8_t(i % 6),
                             0x00,
                             0x02,
                             uint8_t(0x10 | kind),
                             0x02,
                             0,
                             0,
                             uint8_t(i & 1),
                             0,
                             0x51,
                             0x14,
                             0,
                             0,
                             0,
                             0,
                             0,
                             0,
                             'P',
                             'r',
                             'o',
                             'g',
                             0,
                             0};
            dispatch(d, msg::UpdateAll, msg::ProgramInfo, p, sizeof p);
        }
    }
    const uint8_t playing[20] = {1, 11, 12, 1, 0, 0, 1};
    dispatch(d, msg::UpdateAll, msg::PlayingInfo, playing, sizeof playing);
    const uint8_t system[20] = {0x00, 0x80, 0x0C, 0x00, 127, 0, 0, 1};
    dispatch(d, msg::UpdateAll, msg::SystemInfo, system, sizeof system);
    const uint8_t volume[] = {0x05};
    dispatch(d, msg::UpdateAll, msg::VolumeInfo, volume, sizeof volume);
    const uint8_t version[] = {1, 2, 3, 4};
    dispatch(d, msg::UpdateAll, msg::VersionInfo, version, sizeof version);
    const uint8_t end[] = {msg::UpdateAll, 0};
    dispatch(d, msg::UpdateAll, msg::StatusReply, end, sizeof end);
}

const uint8_t kCodes[] = {msg::SystemInfo,   msg::VolumeInfo,  msg::VersionInfo, msg::SatelliteInfo,
                          msg::TpInfo,       msg::ProgramInfo, msg::PlayingInfo, msg::AudioInfo,
                          msg::SignalStatus, msg::StatusReply, msg::StatusReply, msg::StatusReply};
const uint8_t kCurrents[] = {0,
                             msg::UpdateAll,
                             msg::QuerySatellite,
                             msg::QueryTp,
                             msg::QueryProgram,
                             msg::SetSatellite,
                             msg::AddSatellite,
                             msg::AddTp,
                             msg::ModifyTp,
                             msg::DeleteTp,
                             msg::DeleteSatellite,
                             msg::DeleteProgram,
                             msg::MultiDescramble,
                             msg::SelectAudio,
                             msg::PlayProgram,
                             msg::ScanSatellite,
                             msg::ScanTp,
                             msg::StopScan,
                             msg::SetSystemInfo,
                             msg::QuerySystemInfo,
                             msg::SetVolume,
                             msg::QueryVersion,
                             msg::QuerySignal,
                             msg::StartUpgrade};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Device* device = new Device; // lives for the whole run
    Device& d = *device;
    populate(d);
    // Records of the lists, marked for removal, as the delete commands do.
    if (size > 0) {
        const auto db = d.core.Database();
        if (db) {
            std::lock_guard satLock(db->SatelliteLock());
            std::lock_guard tpLock(db->TpLock());
            std::lock_guard tvLock(db->ProgramLock(1));
            if (data[0] & 1 && !db->Satellites().empty()) {
                db->SetPendingSatellite(db->Satellites()[data[0] % db->Satellites().size()].get());
            }
            if (data[0] & 2 && !db->Tps().empty()) {
                db->SetPendingTp(db->Tps()[data[0] % db->Tps().size()].get());
            }
            if (data[0] & 4 && !db->Programs(1).empty()) {
                db->SetPendingProgram(db->Programs(1)[data[0] % db->Programs(1).size()].get());
            }
        }
    }
    // Then frames: [current selector, code selector, length, payload...] ...
    size_t pos = 1;
    while (pos + 3 <= size) {
        const uint8_t current = kCurrents[data[pos] % sizeof kCurrents];
        const uint8_t code =
            (data[pos + 1] & 0x80) ? data[pos + 1] : kCodes[data[pos + 1] % sizeof kCodes];
        d.core.Session().scanState = (data[pos + 1] & 0x40) ? 1 : DeviceSession::kNoScan;
        const size_t length = data[pos + 2] % 64;
        pos += 3;
        const size_t n = length < size - pos ? length : size - pos;
        dispatch(d, current, code, data + pos, n);
        pos += n;
        if (d.core.Session().stop) {
            d.core.Session().stop = false;
        }
    }
    return 0;
}
