#include "link/basic_content.h"

#include "lang/language_table.h"
#include "link/device_session.h"
#include "link/message_code.h"

namespace vireo {

namespace {
constexpr int kRowStatusBusy = 171;     // "IRD is in the status, while IRD can't respond message!"
constexpr int kRowAutoResend = 170;     // "Auto re-send message"
constexpr int kRowTransportError = 190; // "Transport error, Re-send auto"
constexpr int kRowOutOfManage = 191;    // "Such request is out of the manage of IRD"
constexpr long kTransportErrorPauseMs = 1200;
} // namespace

bool BasicContent::HandleLinkStatus(DeviceSession& session, uint8_t currentCode, uint8_t echo,
                                    uint8_t status)
{
    switch (status) {
    case 1:
    case 2:
        session.PauseFor(kTransportErrorPauseMs);
        session.Log(GetLangText(kRowTransportError));
        session.SetCurrentOper(oper_mode::ResendRequested);
        return true;
    case 4:
        session.Log(GetLangText(kRowStatusBusy));
        return true;
    case 7:
        session.Log(GetLangText(kRowOutOfManage));
        return true;
    case 175:
        // Accepted, and the device restarts its side: an upgrade takes the
        // link over, anything else starts a new session.
        if (currentCode == msg::StartUpgrade) {
            session.RequestUpgrade();
        } else {
            session.RequestRestart();
        }
        return true;
    case 35:
        if (echo == currentCode) {
            session.SetCurrentOper(oper_mode::ResendRequested);
        }
        session.Log(GetLangText(kRowAutoResend));
        return true;
    default:
        return false;
    }
}

void BasicContent::Dispatch(DeviceSession& session, uint8_t currentCode, const uint8_t* frame,
                            uint8_t length)
{
    const uint8_t code = frame[1];
    if (code == msg::StatusReply) {
        if (length < 4) {
            return; // a status answer carries the echoed code and the status
        }
        const uint8_t echo = frame[3];
        const uint8_t status = frame[4];
        if (!HandleLinkStatus(session, currentCode, echo, status) && echo == currentCode &&
            currentCode != 0) {
            session.SetCurrentOper(oper_mode::Done);
        }
        return;
    }
    if (code == currentCode) {
        session.SetCurrentOper(oper_mode::Done);
    }
}

} // namespace vireo
