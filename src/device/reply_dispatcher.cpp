#include "device/reply_dispatcher.h"

#include "database/list_manager.h"
#include "device/database_content.h"
#include "lang/language_table.h"
#include "link/device_session.h"
#include "link/message_code.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace vireo {

namespace {

// Language-table rows of the dispatcher's log lines.
namespace row {
constexpr int DeleteProgramPrefix = 37; // "Delete program: "
constexpr int PlayProgram = 73;
constexpr int ScanSatellite = 80;
constexpr int DeleteSatellite = 82;
constexpr int AddSatellite = 83;
constexpr int DeleteTp = 85;
constexpr int ModifyTp = 86;
constexpr int SignalSource = 101;
constexpr int CantFindProgram = 152;
constexpr int CantFindTp = 153;
constexpr int CantFindSatellite = 154;
constexpr int AutoResend = 170;
constexpr int StatusBusy = 171;
constexpr int TpNoMatch = 172;
constexpr int NoCiCard = 173;
constexpr int DeleteTpError = 174;
constexpr int DeleteSatelliteError = 175;
constexpr int AddSatelliteError = 177;
constexpr int NoMatchedScan = 178;
constexpr int BetterUpdate = 179;
constexpr int ScanTerminated = 180;
constexpr int ScanNotStarted = 181;
constexpr int SignalChanged = 182;
constexpr int PlayingError = 183;
constexpr int AudioChanged = 184;
constexpr int TransportError = 190;
constexpr int OutOfManage = 191;
constexpr int UpdateFailed = 192;
constexpr int Ok = 193;
constexpr int Failed = 194;
constexpr int Locked = 198;
constexpr int Unlocked = 199;
constexpr int ScanComplete = 201;
constexpr int ScanNoPrograms = 202;
constexpr int ScanNoNewPrograms = 203;
} // namespace row

constexpr long kTransportErrorPauseMs = 1200;
constexpr long kVersionBeforeRefreshPauseMs = 500;
constexpr long kRefreshRetryBaseMs = 1000;
constexpr long kRefreshRetryMaxMs = 30000;

std::string text(int id)
{
    return GetLangText(id);
}

// The status of an answered command as a short text for its record:
// "0x24 status 0 (OK)".
std::string commandAnswerText(uint8_t code, uint8_t status)
{
    char textBuffer[48];
    std::snprintf(textBuffer, sizeof textBuffer, "0x%02X status %u (%s)", code, status,
                  status == 0 ? "OK" : "refused");
    return textBuffer;
}

bool isScanRequest(uint8_t code)
{
    return code == msg::ScanSatellite || code == msg::ScanTp || code == msg::StopScan;
}

// The data reply that answers `command` with its changed record.
bool answersWithRecord(uint8_t reply, uint8_t command)
{
    switch (reply) {
    case msg::SystemInfo:
        return command == msg::SetSystemInfo;
    case msg::VolumeInfo:
        return command == msg::SetVolume;
    case msg::SatelliteInfo:
        return command == msg::SetSatellite || command == msg::AddSatellite;
    case msg::TpInfo:
        return command == msg::AddTp || command == msg::ModifyTp;
    case msg::ProgramInfo:
        return command == msg::MultiDescramble;
    case msg::PlayingInfo:
        return command == msg::PlayProgram;
    case msg::AudioInfo:
        return command == msg::SelectAudio;
    default:
        return false;
    }
}

} // namespace

void ReplyDispatcher::Reset()
{
    m_havePrevious = false;
    m_previousPlays = false;
    m_previousLocked = false;
}

void ReplyDispatcher::releaseIf(DeviceSession& session, bool condition)
{
    if (condition) {
        session.SetCurrentOper(oper_mode::Done);
    }
}

int ReplyDispatcher::display(DatabaseContent& core, ListManager& db, int kind, bool force)
{
    if (!core.ShouldDisplay(kind)) {
        return db_result::NotNow;
    }
    return db.ShowItem(kind, {}, force);
}

bool ReplyDispatcher::Dispatch(DatabaseContent& core, ListManager& db, uint8_t current,
                               const uint8_t* frame, uint8_t length)
{
    const uint8_t code = frame[1];
    const uint8_t* payload = frame + 3;
    const size_t payloadLength = length >= 2 ? length - 2u : 0u;
    bool goOn = true;
    if (code == msg::StatusReply) {
        if (payloadLength < 2) {
            return true; // a status answer without its echo and status says nothing
        }
        goOn = statusReply(core, db, current, payload[0], payload[1]);
    } else {
        // A command answered with the record it changed (or with a reply of
        // its own code): taken, as a status 0 says. Reported once, after the
        // record is stored.
        const bool answered = answersWithRecord(code, current) ||
                              (code == current && msg::IsOperatorCommand(current));
        dataReply(core, db, code, current, payload, payloadLength);
        if (answered) {
            core.Session().Observers().Event(DeviceEvent::Kind::CommandAnswered, 0,
                                             commandAnswerText(current, 0), current);
        }
    }
    if (db.TakeGaveUpNotice()) {
        // The device's answers never completed its lists: shown as they are,
        // and the device is left alone until the next refresh.
        core.Log(text(row::UpdateFailed));
    }
    return goOn;
}

void ReplyDispatcher::dataReply(DatabaseContent& core, ListManager& db, uint8_t code,
                                uint8_t current, const uint8_t* payload, size_t length)
{
    DeviceSession& session = core.Session();
    const bool updateAll = current == msg::UpdateAll;
    switch (code) {
    case msg::SystemInfo: {
        if (updateAll) {
            db.StoreSystemRecord(payload, length);
            return;
        }
        releaseIf(session, current == msg::SetSystemInfo || current == msg::QuerySystemInfo);
        const int result = db.StoreSystemRecord(payload, length);
        if (result == db_result::Ok) {
            display(core, db, item_kind::System);
        } else if (result == db_result::Disconnect) {
            core.Log(text(row::SignalChanged));
        }
        return;
    }
    case msg::VolumeInfo:
        if (updateAll) {
            db.StoreVolume(payload, length);
            return;
        }
        releaseIf(session, current == msg::SetVolume);
        db.StoreVolume(payload, length);
        display(core, db, item_kind::Volume);
        return;
    case msg::VersionInfo:
        if (!session.refreshed) {
            session.PauseFor(kVersionBeforeRefreshPauseMs);
            session.SendRequest(msg::UpdateAll);
            session.refreshed = true;
        }
        if (db.StoreVersion(payload, length) == db_result::Ok) {
            VersionRecord version;
            std::copy_n(payload, version.bytes.size(), version.bytes.begin());
            session.Observers().Event(DeviceEvent::Kind::VersionReported, 0, version.Text());
        }
        releaseIf(session, current == msg::QueryVersion);
        return;
    case msg::SatelliteInfo:
        if (updateAll) {
            db.LoadSatellite(payload, length);
        } else if (current == msg::SetSatellite || current == msg::AddSatellite) {
            db.MergeSatellite(payload, length);
            if (db.CheckComplete(item_kind::Satellites)) {
                display(core, db, item_kind::Satellites);
            }
            session.SetCurrentOper(oper_mode::Done);
        } else {
            db.MergeSatellite(payload, length);
            cascade(core, db, item_kind::Satellites);
        }
        return;
    case msg::TpInfo:
        if (updateAll) {
            db.LoadTp(payload, length);
        } else if (current == msg::AddTp || current == msg::ModifyTp) {
            db.MergeTp(payload, length);
            if (db.CheckComplete(item_kind::Tps)) {
                display(core, db, item_kind::Tps);
            }
            session.SetCurrentOper(oper_mode::Done);
        } else {
            if (current == msg::QueryTp) {
                const std::shared_ptr<OperEventQueue> queue = session.Queue();
                const bool allOrScan =
                    queue != nullptr && (queue->allTpQuery || queue->tpScanRunning);
                releaseIf(session, !allOrScan);
            }
            db.MergeTp(payload, length);
            cascade(core, db, item_kind::Tps);
        }
        return;
    case msg::ProgramInfo: {
        if (session.scanState != DeviceSession::kNoScan) {
            return; // programs are not taken while a scan runs
        }
        const int kind = length >= 7 ? (payload[6] & 0x07) : 0;
        if (updateAll) {
            db.LoadProgram(payload, length);
        } else if (current == msg::QueryProgram) {
            db.MergeProgram(payload, length);
            const std::shared_ptr<OperEventQueue> queue = session.Queue();
            const bool allTv = queue != nullptr && queue->allTvQuery;
            const bool allRadio = queue != nullptr && queue->allRadioQuery;
            releaseIf(session,
                      (kind == item_kind::Tv && !allTv) || (kind == item_kind::Radio && !allRadio));
            cascade(core, db, item_kind::Tv);
        } else if (current == msg::MultiDescramble) {
            db.MergeProgram(payload, length);
            if (kind == item_kind::Tv || kind == item_kind::Radio) {
                display(core, db, kind);
            }
            session.SetCurrentOper(oper_mode::Done);
        } else {
            db.MergeProgram(payload, length);
            if (kind == item_kind::Tv || kind == item_kind::Radio) {
                display(core, db, kind, true);
            }
        }
        return;
    }
    case msg::PlayingInfo:
        if (!session.refreshed) {
            session.SendRequest(msg::UpdateAll);
            session.refreshed = true;
        }
        if (updateAll) {
            db.StorePlaying(payload, length);
            return;
        }
        db.ReplacePlaying(payload, length);
        releaseIf(session, current == msg::PlayProgram);
        display(core, db, db.PlayingDisplayCode());
        return;
    case msg::AudioInfo:
        db.MergeProgram(payload, length);
        if (current == msg::SelectAudio) {
            session.SetCurrentOper(oper_mode::Done);
            core.Log(text(row::AudioChanged));
        }
        return;
    case msg::SignalStatus: {
        if (length < 2) {
            return;
        }
        if (!session.refreshed) {
            core.View().PostRefresh();
            return;
        }
        releaseIf(session, current == msg::QuerySignal);
        showSignal(core, db, payload);
        const bool both = (payload[0] & 0x80) != 0 && (payload[1] & 0x80) != 0;
        const int kind = both ? item_kind::PlayingLocked : item_kind::PlayingUnlocked;
        if (kind != db.PlayingDisplayCode()) {
            db.SetPlayingDisplayCode(kind);
            display(core, db, kind);
        }
        return;
    }
    default:
        return; // unknown codes are ignored
    }
}

void ReplyDispatcher::notOnDevice(DatabaseContent& core, ListManager& db, int kind)
{
    // The device has no record of the index asked for: the walk goes on
    // without it. A program's kind is in byte 6 of the query's payload.
    DeviceSession& session = core.Session();
    const std::vector<uint8_t> frame = session.CurrentFrame();
    session.SetCurrentOper(oper_mode::Done);
    const bool satellites = kind == item_kind::Satellites;
    if (frame.size() < (satellites ? 4u : 3u + 7u) || frame[3] == 0xFF) {
        return;
    }
    db.NoteNotOnDevice(satellites ? kind : (frame[3 + 6] & 0x07), frame[3]);
    cascade(core, db, satellites ? kind : item_kind::Tv);
}

void ReplyDispatcher::cascade(DatabaseContent& core, ListManager& db, int fromKind)
{
    static constexpr int kOrder[] = {item_kind::Satellites, item_kind::Tps, item_kind::Tv,
                                     item_kind::Radio};
    size_t start = 0;
    while (start < std::size(kOrder) && kOrder[start] != fromKind) {
        ++start;
    }
    bool ok = true;
    display(core, db, fromKind);
    if (!db.IsComplete(fromKind)) {
        ok = db.CheckComplete(fromKind);
    }
    int previous = fromKind;
    for (size_t i = start + 1; ok && i <= std::size(kOrder); ++i) {
        display(core, db, previous);
        if (i == std::size(kOrder)) {
            ok = db.CheckComplete(db.PlayingDisplayCode()); // the playing program
            break;
        }
        const int kind = kOrder[i];
        if (!db.IsComplete(kind)) {
            ok = db.CheckComplete(kind);
        }
        previous = kind;
    }
    if (ok && display(core, db, db.PlayingDisplayCode()) == db_result::Inconsistent) {
        core.Log(text(row::PlayingError));
    }
}

void ReplyDispatcher::showSignal(DatabaseContent& core, ListManager& db, const uint8_t* payload)
{
    DeviceSession& session = core.Session();
    const bool plays = (payload[1] & 0x80) != 0;
    const bool locked = (payload[0] & 0x80) != 0;
    const int intensity = payload[0] & 0x7F;
    const int quality = payload[1] & 0x7F;

    core.View().SetMachineState(plays && locked && session.dataOk ? 4 : 5);
    DeviceView::SignalDisplay signal;
    signal.showText = session.querySignalTicked;
    if (!locked) {
        signal.grey = true;
    } else if (signal.showText && intensity <= 99 && quality <= 99 &&
               !(intensity == 99 && quality == 0)) {
        signal.setValues = true;
        signal.intensity = intensity;
        signal.quality = quality;
    }
    core.View().ShowSignal(signal);
    session.Observers().Signal(DeviceSignal{0, locked, plays, intensity, quality});

    const bool firstReport = core.playingFirstReport.exchange(false) || !m_havePrevious;
    if (firstReport || plays != m_previousPlays) {
        core.Log(text(row::PlayProgram) + db.PlayingText() + text(plays ? row::Ok : row::Failed));
    }
    if (firstReport || locked != m_previousLocked) {
        core.Log(text(row::SignalSource) + core.SignalSourceText() +
                 text(locked ? row::Locked : row::Unlocked));
    }
    m_havePrevious = true;
    m_previousPlays = plays;
    m_previousLocked = locked;
}

bool ReplyDispatcher::statusReply(DatabaseContent& core, ListManager& db, uint8_t current,
                                  uint8_t echo, uint8_t status)
{
    DeviceSession& session = core.Session();
    if (current != 0 && echo == current && msg::IsOperatorCommand(current)) {
        session.Observers().Event(DeviceEvent::Kind::CommandAnswered, status,
                                  commandAnswerText(current, status), current);
    }
    switch (status) {
    case 1:
    case 2:
        session.PauseFor(kTransportErrorPauseMs);
        core.Log(text(row::TransportError));
        session.SetCurrentOper(oper_mode::ResendRequested);
        return true;
    case 4:
        core.Log(text(row::StatusBusy));
        return true;
    case 7:
        core.Log(text(row::OutOfManage));
        return true;
    case 16: // no transponders
        db.LoadTp(nullptr, 0);
        [[fallthrough]];
    case 17: // no programs
        db.LoadProgram(nullptr, item_kind::Tv);
        db.LoadProgram(nullptr, item_kind::Radio);
        db.StorePlaying(nullptr, 0);
        db.StoreVolume(nullptr, 0);
        return true;
    case 18: // no satellites
        db.LoadSatellite(nullptr, 0);
        db.LoadTp(nullptr, 0);
        db.LoadProgram(nullptr, item_kind::Tv);
        db.LoadProgram(nullptr, item_kind::Radio);
        db.StorePlaying(nullptr, 0);
        db.StoreVolume(nullptr, 0);
        return true;
    case 35:
        if (echo == current) {
            session.SetCurrentOper(oper_mode::ResendRequested);
        }
        core.Log(text(row::AutoResend));
        return true;
    case 40:
        db.LoadProgram(nullptr, item_kind::Tv);
        return true;
    case 41:
        db.LoadProgram(nullptr, item_kind::Radio);
        return true;
    case 175:
        if (current == msg::StartUpgrade) {
            session.RequestUpgrade();
        } else {
            session.RequestRestart();
        }
        return true;
    default:
        return requestStatus(core, db, current, echo, status);
    }
}

bool ReplyDispatcher::requestStatus(DatabaseContent& core, ListManager& db, uint8_t current,
                                    uint8_t echo, uint8_t status)
{
    DeviceSession& session = core.Session();
    const bool echoMatches = echo == current && current != 0;
    const std::shared_ptr<OperEventQueue> queue = session.Queue();
    switch (current) {
    case msg::SetSystemInfo: {
        // The device took the record that was sent: keep it as its report.
        const std::vector<uint8_t> frame = session.CurrentFrame();
        if (frame.size() >= 3 + SystemRecord::kWireSize) {
            db.StoreSystemRecord(frame.data() + 3, SystemRecord::kWireSize);
        }
        releaseIf(session, echoMatches);
        return true;
    }
    case msg::QueryTp:
        if (status == 0) {
            if (queue != nullptr) {
                queue->allTpQuery = false;
            }
            releaseIf(session, echoMatches);
            core.Log(text(row::ModifyTp) + text(row::Ok));
        } else if (status == 12) {
            // Not under that satellite: look under the next one the manager
            // holds; when none is left, the TP is not on the device and the
            // rest of the list is completed without it.
            const std::vector<uint8_t> frame = session.CurrentFrame();
            const int tp = frame.size() > 4 ? frame[3] : 0xFF;
            const int satellite = frame.size() > 4 ? frame[4] : 0xFF;
            releaseIf(session, echoMatches);
            if (echo != msg::QueryTp) {
                return true;
            }
            if (const int next = db.NextTpSatellite(tp, satellite); next >= 0) {
                session.SendRequest(msg::QueryTp, tp, next);
                return true;
            }
            core.Log(text(row::TpNoMatch) + std::to_string(tp));
            if (queue != nullptr && tp == 0xFF) {
                queue->allTpQuery = false;
            }
            db.NoteNotOnDevice(item_kind::Tps, tp);
            cascade(core, db, item_kind::Tps);
        }
        return true;
    case msg::DeleteTp:
        session.deletePending = false; // whatever the answer, the menus come back
        if (status == 0) {
            if (db.RemoveTp(nullptr, true) == db_result::Ok) {
                db.RenumberPrograms();
            } else {
                core.Log(text(row::CantFindTp));
            }
            core.Log(text(row::DeleteTp) + text(row::Ok));
        } else {
            core.Log(text(row::DeleteTpError) + std::to_string(status));
        }
        releaseIf(session, echoMatches);
        return true;
    case msg::DeleteSatellite:
        session.deletePending = false;
        if (status == 0) {
            if (db.RemoveSatellite(nullptr, true) == db_result::Ok) {
                db.RenumberPrograms();
            } else {
                core.Log(text(row::CantFindSatellite));
            }
            core.Log(text(row::DeleteSatellite) + text(row::Ok));
        } else {
            core.Log(text(row::DeleteSatelliteError) + std::to_string(status));
        }
        releaseIf(session, echoMatches);
        return true;
    case msg::AddSatellite:
        core.Log(status == 0 ? text(row::AddSatellite) + text(row::Ok)
                             : text(row::AddSatelliteError) + std::to_string(status));
        releaseIf(session, echoMatches);
        return true;
    case msg::QuerySatellite:
        if (status == 0) {
            if (queue != nullptr) {
                queue->allSatQuery = false;
            }
            releaseIf(session, echoMatches);
        } else if (status == 12 && echoMatches) {
            notOnDevice(core, db, item_kind::Satellites);
        }
        return true;
    case msg::QueryProgram:
        if (status == 0) {
            if (queue != nullptr) {
                if (queue->allTvQuery) {
                    queue->allTvQuery = false;
                } else {
                    queue->allRadioQuery = false;
                }
            }
            releaseIf(session, echoMatches);
        } else if (status == 12 && echoMatches) {
            notOnDevice(core, db, item_kind::Tv);
        }
        return true;
    case msg::DeleteProgram:
        session.deletePending = false;
        if (status == 0) {
            if (db.RemoveProgram(nullptr, true) == db_result::Ok) {
                db.RenumberPrograms();
            } else {
                core.Log(text(row::CantFindProgram));
            }
            core.Log(text(row::DeleteProgramPrefix) + text(row::Ok));
            releaseIf(session, echoMatches);
        } else if (status == 29) {
            core.Log(text(row::CantFindProgram));
            releaseIf(session, echoMatches);
            core.StartFullRefresh();
        } else {
            releaseIf(session, echoMatches);
        }
        return true;
    case msg::MultiDescramble:
        if (status == 39) {
            core.Log(text(row::NoCiCard));
        }
        releaseIf(session, echoMatches);
        return true;
    case msg::UpdateAll:
        endOfRefresh(core, db, current, echo);
        return true;
    default:
        if (isScanRequest(current)) {
            session.Observers().Event(DeviceEvent::Kind::ScanEnded, status);
            if (queue != nullptr) {
                if (current == msg::ScanSatellite) {
                    queue->satScanRunning = false;
                } else if (current == msg::ScanTp) {
                    queue->tpScanRunning = false;
                } else if (queue->satScanRunning) {
                    queue->satScanRunning = false;
                } else {
                    queue->tpScanRunning = false;
                }
            }
            releaseIf(session, echoMatches);
            switch (status) {
            case 0:
                core.Log(text(row::ScanComplete));
                core.View().PostRefresh();
                break;
            case 33:
                core.Log(text(row::ScanNoNewPrograms));
                core.View().PostRefresh();
                break;
            case 34:
                core.Log(text(row::ScanNoPrograms));
                core.View().PostRefresh();
                break;
            case 36:
            case 37:
                core.Log(text(session.scanState < DeviceSession::kNoScan ? row::ScanTerminated
                                                                         : row::ScanNotStarted));
                session.scanState = DeviceSession::kNoScan;
                break;
            case 12:
                if (session.scanState == 1) {
                    core.Log(text(row::NoMatchedScan));
                    core.Log(text(row::BetterUpdate));
                }
                session.scanState = DeviceSession::kNoScan;
                break;
            case 13:
                session.scanState = DeviceSession::kNoScan;
                break;
            default:
                break;
            }
        }
        return true;
    }
}

void ReplyDispatcher::endOfRefresh(DatabaseContent& core, ListManager& current_db, uint8_t current,
                                   uint8_t echo)
{
    DeviceSession& session = core.Session();
    std::shared_ptr<ListManager> fresh;
    ListManager* db = &current_db;
    if (current_db.Loaded()) {
        // A second end for a database that was already complete: start over,
        // unless a refresh has replaced it already.
        if (core.Database().get() != &current_db) {
            return;
        }
        core.CreateDatabase();
        fresh = core.Database();
        if (!fresh) {
            return;
        }
        db = fresh.get();
        core.View().SetSystemTabEnabled(false);
        core.View().SetSignalSourceEnabled(false);
        core.View().SetSignalGauges(0, 0, false);
        session.scanState = DeviceSession::kNoScan;
    }
    if (!db->CheckComplete(item_kind::System)) {
        session.SetCurrentOper(oper_mode::Done);
        // A device that never completes a refresh is asked again after 1 s,
        // then 2, 4... up to 30 s, not at the pace of its answers.
        const int failed = ++core.failedRefreshes;
        if (failed > 1) {
            session.PauseFor(
                std::min(kRefreshRetryBaseMs << std::min(failed - 2, 5), kRefreshRetryMaxMs));
        }
        core.StartFullRefresh();
        core.Log(text(row::UpdateFailed));
        session.Observers().Event(DeviceEvent::Kind::RefreshFailed, failed,
                                  text(row::UpdateFailed));
        return;
    }
    core.failedRefreshes = 0;
    display(core, *db, item_kind::System);
    bool ok = true;
    for (int kind : {item_kind::Volume, item_kind::Satellites, item_kind::Tps, item_kind::Tv,
                     item_kind::Radio}) {
        if (!db->CheckComplete(kind)) {
            ok = false;
            break;
        }
        display(core, *db, kind);
    }
    if (ok && db->CheckComplete(item_kind::PlayingUnlocked)) {
        display(core, *db, db->PlayingDisplayCode());
    }
    db->CheckComplete(item_kind::Version);
    releaseIf(session, echo == current);
    db->SetLoaded();
    session.Observers().Event(DeviceEvent::Kind::RefreshComplete);
    if (core.Database().get() == db) {
        // Not for a database a refresh has replaced meanwhile: its own
        // refresh is under way.
        core.View().SetToolbarRefreshEnabled(true);
        core.View().SetMachineState(2);
    }
}

} // namespace vireo
