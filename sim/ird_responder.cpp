#include "sim/ird_responder.h"

#include "link/message_code.h"
#include "link/request_frame.h"
#include "sim/database_edits.h"

#include <cstdio>

namespace vireo::sim {

namespace {

using Bytes = std::vector<uint8_t>;

// Collects the frames of one answer.
class Answer
{
public:
    void data(uint8_t code, std::span<const uint8_t> payload, bool burst = false)
    {
        m_frames.push_back({BuildFrame(code, payload), burst});
    }
    void status(uint8_t echoed, uint8_t value, bool burst = false)
    {
        m_frames.push_back({BuildStatusReply(echoed, value), burst});
    }
    std::vector<ReplyFrame> take() { return std::move(m_frames); }

private:
    std::vector<ReplyFrame> m_frames;
};

Bytes satellitePayload(const Satellite& s)
{
    const auto record = EncodeSatellite(s);
    Bytes payload(record.begin(), record.begin() + 8);
    payload.insert(payload.end(), s.name.begin(), s.name.end());
    payload.push_back(0);
    return payload;
}

Bytes programPayload(const Program& p, uint8_t kind)
{
    const auto record = EncodeProgram(p, kind);
    Bytes payload(record.begin(), record.end());
    payload.insert(payload.end(), p.name.begin(), p.name.end());
    payload.push_back(0);
    return payload;
}

// Six bytes with index 0xFF when nothing plays, else the program's 20 bytes.
Bytes playingPayload(const DeviceDatabase& db)
{
    const Program* p = FindProgram(db, db.playing.kind, db.playing.index);
    if (p == nullptr) {
        return Bytes{kNone, 0, 0, 0, 0, 0};
    }
    const auto record = EncodeProgram(*p, db.playing.kind);
    return Bytes(record.begin(), record.end());
}

void sendSatellites(const DeviceDatabase& db, Answer& out, bool burst)
{
    for (const Satellite& s : db.satellites) {
        out.data(msg::SatelliteInfo, satellitePayload(s), burst);
    }
}

void sendPrograms(const DeviceDatabase& db, uint8_t kind, Answer& out, bool burst)
{
    for (const Program& p : db.Programs(kind)) {
        out.data(msg::ProgramInfo, programPayload(p, kind), burst);
    }
}

// The status that reports an empty list, or 0 when the list has records.
uint8_t emptyListStatus(const DeviceDatabase& db, uint8_t kind)
{
    if (db.satellites.empty()) {
        return status::kNoSatellites;
    }
    if (db.transponders.empty()) {
        return status::kNoTransponders;
    }
    if (kind == kKindTv || kind == kKindRadio) {
        if (db.tv.empty() && db.radio.empty()) {
            return status::kNoPrograms;
        }
        if (db.Programs(kind).empty()) {
            return kind == kKindTv ? status::kNoTvPrograms : status::kNoRadioPrograms;
        }
    }
    return status::kOk;
}

void updateAll(const DeviceDatabase& db, Answer& out)
{
    out.data(msg::SystemInfo, db.system, true);
    const uint8_t volume = EncodeVolume(db.volume);
    out.data(msg::VolumeInfo, std::span(&volume, 1), true);
    out.data(msg::VersionInfo, db.version, true);
    sendSatellites(db, out, true);
    if (db.satellites.empty()) {
        out.status(msg::UpdateAll, status::kNoSatellites, true);
    } else if (db.transponders.empty()) {
        out.status(msg::UpdateAll, status::kNoTransponders, true);
    } else {
        for (const Transponder& t : db.transponders) {
            out.data(msg::TpInfo, EncodeTransponder(t), true);
        }
        if (db.tv.empty() && db.radio.empty()) {
            out.status(msg::UpdateAll, status::kNoPrograms, true);
        } else {
            for (uint8_t kind : {kKindTv, kKindRadio}) {
                if (db.Programs(kind).empty()) {
                    out.status(msg::UpdateAll, emptyListStatus(db, kind), true);
                }
                sendPrograms(db, kind, out, true);
            }
        }
    }
    out.data(msg::PlayingInfo, playingPayload(db), true);
    out.status(msg::UpdateAll, status::kOk);
}

void queryTp(const DeviceDatabase& db, const uint8_t* payload, Answer& out)
{
    const uint8_t index = payload[0];
    const uint8_t satellite = payload[1];
    if (const uint8_t empty = emptyListStatus(db, 0); empty != status::kOk) {
        out.status(msg::QueryTp, empty);
        return;
    }
    bool found = false;
    for (const Transponder& t : db.transponders) {
        if (t.satellite == satellite && (index == kNone || t.index == index)) {
            out.data(msg::TpInfo, EncodeTransponder(t));
            found = true;
        }
    }
    if (!found) {
        out.status(msg::QueryTp, status::kNoMatch); // no (further) transponder on this satellite
    } else if (index == kNone) {
        out.status(msg::QueryTp, status::kOk);
    }
}

void querySatellite(const DeviceDatabase& db, uint8_t index, Answer& out)
{
    if (db.satellites.empty()) {
        out.status(msg::QuerySatellite, status::kNoSatellites);
        return;
    }
    if (index == kNone) {
        sendSatellites(db, out, false);
    } else if (const Satellite* s = FindSatellite(db, index)) {
        out.data(msg::SatelliteInfo, satellitePayload(*s));
    } else {
        out.status(msg::QuerySatellite, status::kNoMatch);
        return;
    }
    out.status(msg::QuerySatellite, status::kOk);
}

void queryProgram(const DeviceDatabase& db, uint8_t index, uint8_t kind, Answer& out)
{
    if (kind != kKindTv && kind != kKindRadio) {
        out.status(msg::QueryProgram, status::kOutOfManage);
    } else if (const uint8_t empty = emptyListStatus(db, kind); empty != status::kOk) {
        out.status(msg::QueryProgram, empty);
    } else if (index == kNone) {
        sendPrograms(db, kind, out, false);
        out.status(msg::QueryProgram, status::kOk);
    } else if (const Program* p = FindProgram(db, kind, index)) {
        out.data(msg::ProgramInfo, programPayload(*p, kind));
    } else {
        out.status(msg::QueryProgram, status::kNoMatch);
    }
}

void setSystem(DeviceDatabase& db, const uint8_t* payload, Answer& out)
{
    std::array<uint8_t, 20> record;
    std::copy(payload, payload + 20, record.begin());
    // Byte 18 asks the device to take the new address, mask and MAC; without
    // it the device keeps its own.
    if (record[18] == 0) {
        std::copy(db.system.begin() + 4, db.system.begin() + 18, record.begin() + 4);
    } else {
        record[18] = 1;
    }
    // A factory reset and an address change are reported once; the stored
    // record forgets both requests.
    out.data(msg::SystemInfo, record);
    record[0] &= 0xFE;
    record[18] = 0;
    db.system = record;
}

// MultiDescramble, SelectAudio: change one program, answer with its record.
void changeProgram(DeviceDatabase& db, uint8_t code, const uint8_t* payload, Answer& out)
{
    const uint8_t kind = payload[6] & 0x07;
    Program* program = FindProgram(db, kind, payload[0]);
    if (program == nullptr) {
        out.status(code, status::kNoMatch);
        return;
    }
    if (code == msg::MultiDescramble) {
        if (payload[11] > 2) {
            out.status(code, status::kOutOfManage);
            return;
        }
        program->module = payload[11];
    } else {
        const uint8_t choice = payload[18];
        if ((choice & 0x0F) > 2 || ((choice & 0xF0) != 0 && (choice & 0xF0) != 0xF0)) {
            out.status(code, status::kOutOfManage);
            return;
        }
        program->audioChoice = choice;
    }
    out.data(code == msg::MultiDescramble ? msg::ProgramInfo : msg::AudioInfo,
             programPayload(*program, kind));
}

void playProgram(DeviceDatabase& db, uint8_t index, uint8_t kind, Answer& out)
{
    if (index != kNone) {
        if (FindProgram(db, kind, index) == nullptr) {
            out.status(msg::PlayProgram, status::kNoMatch);
            return;
        }
        db.playing = {index, kind};
    }
    out.data(msg::PlayingInfo, playingPayload(db));
}

} // namespace

std::vector<uint8_t> BuildFrame(uint8_t code, std::span<const uint8_t> payload)
{
    Bytes frame(payload.size() + kFrameOverhead + 2);
    std::copy(payload.begin(), payload.end(), frame.begin() + 3);
    FinishFrame(frame.data(), code, static_cast<uint8_t>(payload.size() + 2));
    return frame;
}

std::vector<uint8_t> BuildStatusReply(uint8_t echoedCode, uint8_t statusValue)
{
    const uint8_t payload[2] = {echoedCode, statusValue};
    return BuildFrame(msg::StatusReply, payload);
}

// A scan finds one new TV program on the scanned transponder (or on the
// first transponder of the scanned satellite): status 0. With no transponder
// to scan it finds nothing (34); with a full program list nothing new (33).
static uint8_t scan(DeviceDatabase& db, uint8_t code, const uint8_t* p)
{
    const Transponder* target = nullptr;
    for (const Transponder& tp : db.transponders) {
        if (code == msg::ScanTp ? tp.index == p[0] : tp.satellite == p[0]) {
            target = &tp;
            break;
        }
    }
    if (target == nullptr) {
        return code == msg::ScanTp ? status::kNoMatch : status::kScanNoPrograms;
    }
    if (db.tv.size() >= kMaxItems) {
        return status::kScanNoNewPrograms;
    }
    uint8_t link = 0;
    for (const std::vector<Program>* list : {&db.tv, &db.radio}) {
        for (const Program& program : *list) {
            link = std::max<uint8_t>(link, static_cast<uint8_t>(program.link + 1));
        }
    }
    Program found;
    found.link = link;
    found.tp = target->index;
    found.pcrPid = static_cast<uint16_t>(0x200 + db.tv.size());
    found.videoPid = found.pcrPid;
    found.audio[0] = {1, static_cast<uint16_t>(found.pcrPid + 1)};
    found.name = "Scan Found " + std::to_string(db.tv.size() + 1);
    db.tv.push_back(found);
    RelinkDatabase(db);
    return status::kOk;
}

std::vector<ReplyFrame> AnswerRequest(DeviceDatabase& db, std::span<const uint8_t> frame,
                                      const SignalLevel& signal)
{
    Answer out;
    const uint8_t code = frame[1];
    const size_t payloadSize = frame[2] >= 2 ? frame[2] - 2u : 0;
    const uint8_t* p = frame.data() + 3;
    const std::optional<size_t> needed = RequestPayloadLength(code);
    if (!needed || payloadSize < *needed) {
        out.status(code, status::kOutOfManage);
        return out.take();
    }

    switch (code) {
    case msg::QuerySignal: {
        const bool playing = FindProgram(db, db.playing.kind, db.playing.index) != nullptr;
        const uint8_t payload[2] = {
            static_cast<uint8_t>(playing ? (signal.locked ? 0x80 : 0) | (signal.intensity & 0x7F)
                                         : 0),
            static_cast<uint8_t>(playing ? 0x80 | (signal.quality & 0x7F) : 0)};
        out.data(msg::SignalStatus, payload);
        break;
    }
    case msg::UpdateAll:
        updateAll(db, out);
        break;
    case msg::QuerySystemInfo:
        out.data(msg::SystemInfo, db.system);
        break;
    case msg::QueryVersion:
        out.data(msg::VersionInfo, db.version);
        break;
    case msg::SetSystemInfo:
        setSystem(db, p, out);
        break;
    case msg::SetVolume: {
        ApplyVolumeCommand(db.volume, p[0]);
        const uint8_t volume = EncodeVolume(db.volume);
        out.data(msg::VolumeInfo, std::span(&volume, 1));
        break;
    }
    case msg::SetSatellite: {
        const Satellite s = DecodeSatellite(p);
        if (UpdateSatellite(db, s)) {
            out.data(msg::SatelliteInfo, satellitePayload(*FindSatellite(db, s.index)));
        } else {
            out.status(code, status::kNoMatch);
        }
        break;
    }
    case msg::AddSatellite:
        if (const std::optional<uint8_t> index = AddSatellite(db, DecodeSatellite(p))) {
            out.data(msg::SatelliteInfo, satellitePayload(*FindSatellite(db, *index)));
        } else {
            out.status(code, status::kOutOfManage); // 255 satellites held
        }
        break;
    case msg::QuerySatellite:
        querySatellite(db, p[0], out);
        break;
    case msg::DeleteSatellite:
        out.status(code, DeleteSatellite(db, p[0]) ? status::kOk : status::kNoMatch);
        break;
    case msg::QueryTp:
        queryTp(db, p, out);
        break;
    case msg::AddTp: {
        const Transponder t = DecodeTransponder(p);
        if (const std::optional<uint8_t> index = AddTransponder(db, t)) {
            out.data(msg::TpInfo, EncodeTransponder(*FindTransponder(db, *index)));
        } else {
            // Unknown satellite, or 255 transponders held.
            out.status(code, FindSatellite(db, t.satellite) == nullptr ? status::kNoMatch
                                                                       : status::kOutOfManage);
        }
        break;
    }
    case msg::ModifyTp: {
        const Transponder t = DecodeTransponder(p);
        if (UpdateTransponder(db, t)) {
            out.data(msg::TpInfo, EncodeTransponder(*FindTransponder(db, t.index)));
        } else {
            out.status(code, status::kNoMatch);
        }
        break;
    }
    case msg::DeleteTp:
        out.status(code, DeleteTransponder(db, p[0]) ? status::kOk : status::kNoMatch);
        break;
    case msg::QueryProgram:
        queryProgram(db, p[0], p[6] & 0x07, out);
        break;
    case msg::PlayProgram:
        playProgram(db, p[0], p[6] & 0x07, out);
        break;
    case msg::MultiDescramble:
    case msg::SelectAudio:
        changeProgram(db, code, p, out);
        break;
    case msg::DeleteProgram:
        out.status(code,
                   DeleteProgram(db, p[6] & 0x07, p[0]) ? status::kOk : status::kProgramNotFound);
        break;
    case msg::ScanSatellite:
    case msg::ScanTp:
        out.status(code, scan(db, code, p));
        break;
    case msg::StartUpgrade:
        // Accepted: the link now carries the upgrade.
        out.status(code, kStatusUpgradeAccepted);
        break;
    default: // StopScan, Reboot
        out.status(code, status::kOk);
        break;
    }
    return out.take();
}

std::string MessageName(uint8_t code, bool fromManager)
{
    switch (code) {
    case msg::SetSystemInfo:
        return fromManager ? "SetSystemInfo" : "SystemInfo";
    case msg::SetVolume:
        return fromManager ? "SetVolume" : "VolumeInfo";
    case msg::QueryVersion:
        return fromManager ? "QueryVersion" : "VersionInfo";
    case msg::QuerySystemInfo:
        return "QuerySystemInfo";
    case msg::SetSatellite:
        return fromManager ? "SetSatellite" : "SatelliteInfo";
    case msg::QueryTp:
        return fromManager ? "QueryTp" : "TpInfo";
    case msg::AddTp:
        return "AddTp";
    case msg::DeleteTp:
        return "DeleteTp";
    case msg::ModifyTp:
        return "ModifyTp";
    case msg::ScanSatellite:
        return "ScanSatellite";
    case msg::ScanTp:
        return "ScanTp";
    case msg::AddSatellite:
        return "AddSatellite";
    case msg::DeleteSatellite:
        return "DeleteSatellite";
    case msg::QuerySatellite:
        return "QuerySatellite";
    case msg::StopScan:
        return "StopScan";
    case msg::QueryProgram:
        return fromManager ? "QueryProgram" : "ProgramInfo";
    case msg::PlayProgram:
        return fromManager ? "PlayProgram" : "PlayingInfo";
    case msg::MultiDescramble:
        return "MultiDescramble";
    case msg::DeleteProgram:
        return "DeleteProgram";
    case msg::SelectAudio:
        return fromManager ? "SelectAudio" : "AudioInfo";
    case msg::QuerySignal:
        return fromManager ? "QuerySignal" : "SignalStatus";
    case msg::StatusReply:
        return "StatusReply";
    case msg::StartUpgrade:
        return "StartUpgrade";
    case msg::Reboot:
        return "Reboot";
    case msg::UpdateAll:
        return "UpdateAll";
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", code);
        return text;
    }
    }
}

std::string HexBytes(std::span<const uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

} // namespace vireo::sim
