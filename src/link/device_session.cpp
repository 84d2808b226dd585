#include "link/device_session.h"

#include "lang/language_table.h"
#include "link/message_code.h"
#include "link/outage_rows.h"
#include "log/address_text.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace vireo {

namespace {

// The session whose loop runs on this thread, if any.
thread_local const DeviceSession* t_loopOf = nullptr;

// Language-table rows of the link's log lines.
constexpr int kRowBeginParseIp = 134;
constexpr int kRowBeginConnect = 135;
constexpr int kRowConnected = 136;
constexpr int kRowPortNotClosed = 137;
constexpr int kRowCreateError = 139;
constexpr int kRowOptionError = 140;
constexpr int kRowBlockError = 141;
constexpr int kRowSystemError = 142;
constexpr int kRowBeginMonitoring = 143;
constexpr int kRowReconnectFailed = 144;
constexpr int kRowRestart = 145;
constexpr int kRowUpdateIrd = 146;
constexpr int kRowCommunicationFailed = 147;
constexpr int kRowDisconnected = 148;
constexpr int kRowNoResponse = 187;

// Back-off between reconnects to a device that keeps dropping the link.
constexpr long kReconnectBaseMs = 1000;
constexpr int kLoggedReconnects = 2;
// A watched device that keeps failing the same way is named in the log at
// most this often (protocol ms), with the number of attempts so far.
constexpr long kWatchReminderMs = 600000;

} // namespace

DeviceSession::DeviceSession(SessionContext& context, LogBuffer& log, DeviceView& view,
                             SessionContent& content, LinkTiming timing, uint16_t port)
    : m_context(context), m_log(log), m_view(view), m_content(content), m_timing(timing),
      m_port(port), m_socket(&m_sessionLock, timing, &stop),
      m_splitter(
          [this](const uint8_t* frame, uint8_t length) {
              m_content.Dispatch(*this, CurrentCode(), frame, length);
          },
          &stop)
{}

DeviceSession::~DeviceSession()
{
    Teardown();
}

void DeviceSession::Log(std::string_view text)
{
    m_log.AddLogLine(text);
}

void DeviceSession::logRow(int row)
{
    m_log.AddLogLine(GetLangText(row));
}

std::shared_ptr<OperEventQueue> DeviceSession::Queue()
{
    std::lock_guard lock(m_queueMutex);
    return m_queue;
}

uint8_t DeviceSession::CurrentCode()
{
    std::lock_guard lock(m_operLock);
    return m_current != nullptr ? m_current->Code() : 0;
}

std::vector<uint8_t> DeviceSession::CurrentFrame()
{
    std::lock_guard lock(m_operLock);
    if (m_current == nullptr) {
        return {};
    }
    return {m_current->frame.begin(), m_current->frame.begin() + m_current->size};
}

void DeviceSession::PauseFor(long protocolMs)
{
    std::unique_lock lock(m_waiter->mutex);
    m_waiter->changed.wait_for(lock, m_timing.Scaled(protocolMs), [this] { return stop.load(); });
}

bool DeviceSession::WaitUntil(const std::function<bool()>& done)
{
    std::unique_lock lock(m_waiter->mutex);
    m_waiter->changed.wait(lock, [&] { return stop.load() || done(); });
    return done();
}

void DeviceSession::wakeWaiters()
{
    // Taking the lock orders the flag change before a waiter's next check,
    // so a waiter about to sleep cannot miss it.
    {
        std::lock_guard lock(m_waiter->mutex);
    }
    m_waiter->changed.notify_all();
}

long DeviceSession::ReplyLimitSeconds(uint8_t code) const
{
    switch (code) {
    case msg::ScanSatellite:
    case msg::ScanTp:
        return 10L * scanCount.load() + 20;
    case msg::StopScan:
        return 10;
    case msg::StartUpgrade:
    case msg::Reboot:
        return 8;
    case msg::UpdateAll:
        return 15;
    default:
        return 2;
    }
}

// --- the request in flight ---

void DeviceSession::releaseEvent(OperEvent* event)
{
    if (event == nullptr) {
        return;
    }
    requestEnded(event->Code());
    if (event->standing) {
        event->Rearm(); // the queue keeps its poll event
    } else {
        event->inUse = false;
        m_context.pool.Release(event);
    }
}

void DeviceSession::useSend(OperEvent*& current, bool awaitingReply)
{
    if (current == nullptr) {
        return;
    }
    if (current->retries > 0) {
        --current->retries;
        current->sent = awaitingReply;
    } else {
        releaseEvent(current);
        current = nullptr;
    }
}

void DeviceSession::SetCurrentOper(int mode, OperEvent* event)
{
    std::lock_guard lock(m_operLock);
    OperEvent*& current = m_current;
    switch (mode) {
    case oper_mode::Take:
        if (current != nullptr && current->waiting) {
            break;
        }
        if (current != nullptr && current != event) {
            releaseEvent(current);
        }
        current = event;
        break;
    case oper_mode::Done:
        releaseEvent(current);
        current = nullptr;
        break;
    case oper_mode::SendFailed:
        useSend(current, false);
        break;
    case oper_mode::Sent:
        useSend(current, true);
        break;
    case oper_mode::TimedOut:
        if (current == nullptr) {
            break;
        }
        if (current->timeoutAllowance > 0) {
            --current->timeoutAllowance;
        } else {
            current->timeoutAllowance = 1;
            current->waiting = false; // sent again on the next pass
            useSend(current, false);
        }
        break;
    case oper_mode::ResendRequested:
        if (current != nullptr && current->resendRequests < OperEvent::kMaxResendRequests) {
            ++current->resendRequests;
            current->retries = 3;
            current->timeoutAllowance = 1;
        }
        break;
    default:
        break;
    }
}

bool DeviceSession::ReleaseIfCurrent(uint8_t code)
{
    std::lock_guard lock(m_operLock);
    if (m_current == nullptr || m_current->Code() != code) {
        return false;
    }
    releaseEvent(m_current);
    m_current = nullptr;
    return true;
}

void DeviceSession::requestEnded(uint8_t code)
{
    // However a delete ends (answered, dropped after its time-outs, never
    // queued), the program menus are offered again.
    if (code == msg::DeleteProgram || code == msg::DeleteTp || code == msg::DeleteSatellite) {
        deletePending = false;
    }
}

void DeviceSession::OnRequestDropped(uint8_t code)
{
    requestEnded(code);
}

void DeviceSession::OnScanPreempted()
{
    stopScanSent = true;
    m_socket.AbortReceive(true);
}

bool DeviceSession::SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data)
{
    if (code == msg::UpdateAll) {
        numberMode = m_context.hexShowing.load();
    }
    const std::shared_ptr<OperEventQueue> queue = Queue();
    if (!queue) {
        requestEnded(code);
        return false;
    }
    const bool refused = queue->Push(code, a, b, data);
    if (!refused && msg::IsOperatorCommand(code)) {
        char what[8];
        std::snprintf(what, sizeof what, "0x%02X", code);
        m_observers.Event(DeviceEvent::Kind::CommandSent, code, what);
        if (code == msg::ScanSatellite || code == msg::ScanTp) {
            m_observers.Event(DeviceEvent::Kind::ScanStarted, code);
        }
    }
    // With nothing in flight the session thread sits in an idle receive pass;
    // end that pass so the new request goes out now rather than after it.
    // A request sent from the session thread itself (handling a report) is
    // found before its next receive pass.
    if (!refused && t_loopOf == this) {
        m_queuedOnLoop = true;
    } else if (!refused && CurrentCode() == 0 && threadRunning) {
        m_socket.AbortReceive(true);
    }
    return refused;
}

// --- connecting ---

bool DeviceSession::ConnectIrd(bool quiet)
{
    if (stop) {
        return true;
    }
    {
        std::lock_guard lock(m_sessionLock);
        const std::string caption = m_log.Caption();
        const size_t colon = caption.find(':');
        if (colon == std::string::npos || colon >= 16) {
            return false;
        }
        const std::string address = caption.substr(0, colon);
        if (!IsValidIPv4Text(address)) {
            return false;
        }
        // Written out again without leading zeros or empty numbers, so the
        // resolver reads it as the four numbers it is.
        unsigned numbers[4] = {0, 0, 0, 0};
        int part = 0;
        for (char c : address) {
            if (c == '.') {
                ++part;
            } else {
                numbers[part] = numbers[part] * 10 + static_cast<unsigned>(c - '0');
            }
        }
        char normal[16];
        std::snprintf(normal, sizeof normal, "%u.%u.%u.%u", numbers[0], numbers[1], numbers[2],
                      numbers[3]);
        uint32_t resolved = 0;
        if (!net::ResolveIpv4(normal, resolved)) {
            logRow(kRowBeginParseIp);
            return false;
        }
        m_target = Ipv4Target{resolved, m_port};
        m_targetAddress = resolved;
    }
    if (!quiet) {
        logRow(kRowBeginConnect);
    }
    const int result = m_socket.Open(&m_target, net::kStreamType, 0, true, true);
    if (result != connect_result::Connected && stop) {
        return true; // given up for a disconnect or a closing window: nothing to report
    }
    m_lastConnectResult = result;
    if (result == connect_result::Unreachable) {
        m_refusedSinceLoss = true;
    }
    if (result == connect_result::Connected) {
        if (!quiet) {
            logRow(kRowConnected);
        }
    } else if (!m_silentConnect) {
        logConnectFailure(result);
    }
    const bool ok = result == connect_result::Connected;
    if (ok) {
        everConnected = true;
        linked = true;
        m_view.SetMachineState(2);
        m_observers.Event(m_reconnecting ? DeviceEvent::Kind::Reconnected
                                         : DeviceEvent::Kind::Connected);
    } else if (!m_silentConnect) {
        m_observers.Event(DeviceEvent::Kind::ConnectFailed, result);
    }
    m_view.SetToolbarLinked(linked.load());
    return ok;
}

void DeviceSession::logConnectFailure(int result)
{
    switch (result) {
    case connect_result::NotAttempted:
        logRow(kRowPortNotClosed);
        break;
    case connect_result::CreateFailed:
        logRow(kRowCreateError);
        break;
    case connect_result::OptionFailed:
        logRow(kRowOptionError);
        break;
    case connect_result::BlockingModeFailed:
        logRow(kRowBlockError);
        break;
    default:
        m_log.AddLogLine(GetLangText(kRowSystemError) + std::to_string(result));
        break;
    }
}

bool DeviceSession::ConnectAndStart()
{
    return ConnectIrd() && StartSession() && RefreshIrd();
}

// --- the session thread ---

void DeviceSession::joinRetiredThreads()
{
    const auto self = std::this_thread::get_id();
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if (it->get_id() == self) {
            ++it;
            continue;
        }
        if (it->joinable()) {
            it->join();
        }
        it = m_retired.erase(it);
    }
}

bool DeviceSession::StartSession()
{
    return startSession(false);
}

bool DeviceSession::startSession(bool refreshWhenLinked)
{
    // The previous thread is waited for (asked to leave first when it is
    // still in its loop), with no lock held that it might need on its way out,
    // so its clean-up is complete before the new session is set up.
    std::thread previous;
    {
        std::lock_guard threadLock(m_threadMutex);
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
            previous = std::move(m_thread);
        }
    }
    if (previous.joinable()) {
        if (!threadEnded || watching) {
            m_replacing = true; // the new session takes over: no clean-up
            stop = true;
            m_socket.Wake();
            wakeWaiters();
        }
        previous.join();
        m_replacing = false;
    }

    std::lock_guard lock(m_sessionLock);
    if (closing) {
        return false;
    }
    {
        std::lock_guard queueLock(m_queueMutex);
        if (!m_queue) {
            m_queue = std::make_shared<OperEventQueue>(*this);
        }
    }
    m_content.EnsureDatabase();

    std::lock_guard threadLock(m_threadMutex);
    if (closing) {
        return false;
    }
    if (m_thread.joinable()) {
        m_retired.push_back(std::move(m_thread));
    }
    joinRetiredThreads();
    m_splitter.Reset();
    threadEnded = false;
    // The new thread's loop runs unless the window closes or a disconnect is
    // already asked for (between the connect step and this start, say): then
    // it goes straight to its clean-up. Set here, not by the thread, so a
    // disconnect asked for before the thread first runs is not undone by it.
    stop = closing || disconnectRequested;
    m_thread = std::thread(&DeviceSession::threadMain, this, refreshWhenLinked);
    return true;
}

bool DeviceSession::RefreshIrd()
{
    if (closing) {
        return false;
    }
    // The loop goes on, unless it is already asked to end: a disconnect,
    // restart or upgrade asked for before the refresh is not lost. Cleared
    // first and then checked; the requests set their flag before `stop`, so
    // one that comes in meanwhile is seen either here or by its own store.
    stop = false;
    if (endRequested()) {
        stop = true;
    }
    refresh();
    return true;
}

void DeviceSession::refresh()
{
    deletePending = false;
    logRow(kRowUpdateIrd);
    m_content.CreateDatabase();
    SetCurrentOper(oper_mode::Done);
    {
        std::lock_guard lock(m_queueMutex);
        if (m_queue) {
            m_queue->Clear();
        } else {
            m_queue = std::make_shared<OperEventQueue>(*this);
        }
    }
    m_view.SetToolbarRefreshEnabled(false);
    resetSessionDisplay();
    refreshed = false;
    SendRequest(msg::UpdateAll);
    refreshed = true;
}

void DeviceSession::resetSessionDisplay()
{
    m_view.SetSystemTabEnabled(false);
    m_view.SetSignalSourceEnabled(false);
    m_view.SetSignalGauges(0, 0, false);
    scanState = kNoScan;
}

bool DeviceSession::endRequested() const
{
    return disconnectRequested || restartRequested || upgradeRequested || m_replacing;
}

void DeviceSession::RequestDisconnect()
{
    // Never waits, whatever the session thread is doing: a connect, a send
    // or a receive in progress sees `stop` at the wake-up and gives up, and
    // the thread's clean-up closes the socket.
    disconnectRequested = true;
    stop = true;
    m_socket.Wake();
    wakeWaiters();
}

void DeviceSession::RequestRestart()
{
    restartRequested = true;
    stop = true;
    m_socket.Wake();
    wakeWaiters();
}

void DeviceSession::RequestUpgrade()
{
    upgradeRequested = true;
    stop = true;
    m_socket.Wake();
    wakeWaiters();
}

void DeviceSession::RequestStop()
{
    const bool wasClosing =
        closing.exchange(true); // only a closing window stops its session this way
    stop = true;
    if (!wasClosing && linked) {
        // The thread ends without its clean-up: the link ends here.
        m_observers.Event(DeviceEvent::Kind::Disconnected, 0, "window closed");
    }
    // A stopped socket fails every call and closes itself in the thread that
    // makes it; nothing here waits for the session lock.
    m_socket.Stop();
    wakeWaiters();
}

void DeviceSession::sendCurrent(OperEvent* event)
{
    uint8_t frame[OperEvent::kFrameCapacity];
    int size;
    {
        std::lock_guard lock(m_operLock);
        // Another thread may have released it since it was taken (a refresh,
        // a StopScan overtaking it) and the pool handed it out again: only
        // the request still in flight is sent. Nothing but this thread makes
        // a request current, so the pointer cannot name a new one.
        if (m_current != event) {
            return;
        }
        size = event->size;
        std::copy(event->frame.begin(), event->frame.begin() + size, frame);
    }
    if (m_socket.Send(frame, static_cast<size_t>(size)) < 0) {
        lastError = 34;
        SetCurrentOper(oper_mode::SendFailed);
        return;
    }
    ++requestsSent;
    SetCurrentOper(oper_mode::Sent);
    receiveStep();
}

void DeviceSession::threadMain(bool refreshWhenLinked)
{
    t_loopOf = this;
    threadRunning = true;
    m_watchAfterLoop = false; // a loop ended by a new session left it set
    logRow(kRowBeginMonitoring);
    bool refreshDue = refreshWhenLinked;
    while (!stop) {
        if (!linked) {
            if (reconnect()) {
                continue;
            }
            if (m_timing.reconnectForever) {
                continue; // tried again after the next pause
            }
            logRow(kRowReconnectFailed);
            if (m_timing.watchAfterGivingUp && !endRequested()) {
                // The window shows the device disconnected, as after any
                // failed reconnect, and the session goes on watching it.
                m_watchAfterLoop = true;
                stop = true;
                break;
            }
            RequestDisconnect();
            continue;
        }
        // After a restart the window shows nothing until the device is asked
        // for everything, and a device need not volunteer anything that
        // would ask for it. Asked before the first receive, so a report the
        // device does volunteer finds `refreshed` set and starts no second
        // refresh.
        if (refreshDue) {
            refreshDue = false;
            if (!refreshed) {
                refresh();
            }
            continue;
        }
        OperEvent* current;
        bool resendDue;
        {
            std::lock_guard lock(m_operLock);
            current = m_current;
            resendDue = current != nullptr && !current->sent;
        }
        if (resendDue) {
            if (m_socket.CheckAlive() != 0) {
                loseLink();
                lastError = 32;
                continue;
            }
            sendCurrent(current);
            continue;
        }
        if (current == nullptr) {
            const std::shared_ptr<OperEventQueue> queue = Queue();
            OperEvent* next = queue ? queue->TakeNext() : nullptr;
            if (next != nullptr) {
                if (m_socket.CheckAlive() != 0) {
                    loseLink();
                    lastError = 32;
                    continue; // sent after reconnecting
                }
                sendCurrent(next);
                continue;
            }
        }
        receiveStep();
    }
    t_loopOf = nullptr; // what follows may start the next loop's thread

    threadEnded = true;
    threadRunning = false;
    if (closing || m_replacing) {
        return;
    }
    if (restartRequested && !disconnectRequested) {
        restartCleanUp();
        startSession(true);
        logRow(kRowRestart);
    } else if (upgradeRequested && !disconnectRequested) {
        upgradeHandOver();
    } else if (std::exchange(m_watchAfterLoop, false) && !disconnectRequested) {
        disconnectCleanUp(false);
        watch();
    } else {
        // Asked to disconnect, or the loop ended for any other reason (a
        // protocol error, a lost link): either way the window shows the
        // device disconnected and can connect it again.
        disconnectCleanUp();
    }
}

bool DeviceSession::reconnect()
{
    // The first reconnect after a lost link goes at once; a device that
    // keeps dropping the link (accepting and closing at once, say) is tried
    // again after 1 s, then 2, 4... up to the timing's cap (30 s for a
    // window), and from the third attempt on its connect lines are no longer
    // logged until a frame comes through. A service that reconnects forever
    // waits 1 s before its first reconnect too, so a device that drops each
    // link right after a frame is not tried more than once a second.
    int step = m_linkLosses;
    if (!(m_timing.reconnectForever && everConnected)) {
        --step;
    }
    if (step >= 0) {
        const long shift = std::min(step, 16);
        long pause = std::min(kReconnectBaseMs << shift, m_timing.reconnectMaxMs);
        if (m_timing.reconnectForever) {
            // A service's devices that lost their links together (a switch
            // restarted) spread their attempts over a quarter of the pause,
            // each by its address, rather than all knocking at once.
            const uint32_t spread =
                m_targetAddress.load() * 2654435761u + static_cast<uint32_t>(m_linkLosses) * 40503u;
            pause += static_cast<long>(spread % static_cast<uint32_t>(pause / 4 + 1));
        }
        PauseFor(pause);
        if (stop) {
            return true; // the loop ends on its own
        }
    }
    m_linkLosses = std::min(m_linkLosses + 1, 1000); // only its first steps matter
    ++reconnects;
    // A session started without a link (a service that lets the session
    // make its first connect) connects here too: that is no reconnect.
    m_reconnecting = everConnected.load();
    const bool connected = ConnectIrd(m_linkLosses > kLoggedReconnects);
    const bool restored = m_reconnecting;
    m_reconnecting = false;
    if (!connected) {
        return stop.load(); // a connect given up for a stop is no failure
    }
    if (restored) {
        linkRestored();
    }
    // The request in flight went down with the old link: send it again on
    // the new one, and drop whatever half frame the old link left.
    m_splitter.Reset();
    std::lock_guard lock(m_operLock);
    if (m_current != nullptr) {
        m_current->sent = false;
        m_current->waiting = false;
    }
    return true;
}

void DeviceSession::receiveStep()
{
    if (stop) {
        return;
    }
    uint8_t code = 0;
    {
        std::lock_guard lock(m_operLock);
        if (m_current != nullptr) {
            code = m_current->Code();
            m_current->waiting = true;
        }
    }
    const bool ticked = querySignalTicked.load();
    long limit;
    if (code != 0) {
        if (code != msg::QuerySignal) {
            queryChecked = false;
            pollCountdown = ticked ? 3 : 10;
        }
        limit = ReplyLimitSeconds(code);
    } else {
        limit = 1;
        if (refreshed && m_content.HasPlayingProgram() && m_timing.signalPollMs > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= m_nextSignalPoll) {
                m_nextSignalPoll = now + m_timing.Scaled(m_timing.signalPollMs);
                queryChecked = ticked;
                SendRequest(msg::QuerySignal);
            }
        } else if (refreshed && m_content.HasPlayingProgram()) {
            if (pollCountdown > 0) {
                --pollCountdown;
            } else {
                queryChecked = ticked;
                pollCountdown = ticked ? 3 : 10;
                SendRequest(msg::QuerySignal);
            }
        }
    }

    if (code == 0 && std::exchange(m_queuedOnLoop, false)) {
        return; // a request of this thread's waits to go out
    }

    // Bytes waiting for the rest of a frame while the IRD has gone quiet may
    // be held by a stray start byte: give the splitter a chance to skip it.
    if (m_splitter.HasPending() && !m_socket.WaitReadable(m_timing.Scaled(kPendingQuietMs))) {
        m_splitter.FlushStuck();
    }

    int limitOrError = static_cast<int>(limit);
    const int got = m_socket.Receive(m_receiveBuffer.data(), m_receiveBuffer.size(), limitOrError);
    if (got > 0) {
        dataOk = true;
        m_linkLosses = 0;
        m_splitter.SplitFrames(m_receiveBuffer.data(), static_cast<size_t>(got), 1);
    } else if (got == 0) {
        if (m_socket.PeerClosed()) {
            // The IRD closed the connection: the link is lost, reconnect.
            m_socket.Close();
            loseLink(true);
        } else {
            dataOk = true;
        }
    } else if (got == io_result::TimedOut) {
        bool outstanding;
        {
            std::lock_guard lock(m_operLock);
            outstanding = m_current != nullptr;
        }
        if (outstanding) {
            ++requestTimeouts;
            SetCurrentOper(oper_mode::TimedOut);
            logRow(kRowNoResponse);
            m_observers.Event(DeviceEvent::Kind::RequestTimeout, code);
            dataOk = false;
        }
    } else if (got == io_result::Stopped) {
        if (!closing) {
            logRow(kRowDisconnected);
        }
    } else if (got == io_result::WaitFailed) {
        m_socket.Close();
        loseLink();
    } else {
        logRow(kRowCommunicationFailed);
        if (m_timing.watchAfterGivingUp && !endRequested()) {
            // The device broke the link (reset it): the window shows it
            // disconnected, and the session watches it as after a failed
            // reconnect.
            m_socket.Close();
            loseLink(true);
            m_watchAfterLoop = true;
            stop = true;
            return;
        }
        RequestDisconnect();
    }
}

// --- clean-ups after the loop ---

void DeviceSession::clearRequestFlags()
{
    restartRequested = false;
    upgradeRequested = false;
    disconnectRequested = false;
    refreshed = false;
}

void DeviceSession::destroyQueue()
{
    std::lock_guard lock(m_queueMutex);
    if (m_queue) {
        m_queue->Destroy();
        m_queue.reset();
    }
}

void DeviceSession::disconnectCleanUp(bool tellObservers)
{
    m_socket.Close();
    linked = false;
    resetSessionDisplay();
    clearRequestFlags();
    destroyQueue();
    SetCurrentOper(oper_mode::Done);
    m_content.DestroyDatabase();
    logRow(kRowDisconnected);
    if (tellObservers) {
        m_observers.Event(DeviceEvent::Kind::Disconnected);
    }
    everConnected = false;
    m_view.SetToolbarRefreshEnabled(false);
    m_view.SetToolbarLinked(false);
    m_view.SetMachineState(1);
}

bool DeviceSession::WatchNow()
{
    if (!watching) {
        return false;
    }
    {
        std::lock_guard lock(m_waiter->mutex);
        m_watchNow = true;
    }
    m_waiter->changed.notify_all();
    return true;
}

void DeviceSession::watchPause(long protocolMs)
{
    std::unique_lock lock(m_waiter->mutex);
    m_waiter->changed.wait_for(lock, m_timing.Scaled(protocolMs),
                               [this] { return stop.load() || m_watchNow.load(); });
}

bool DeviceSession::watch()
{
    // `stop` ended the loop; cleared for the watch, then checked, as a
    // refresh does: a close or disconnect asked for meanwhile is not lost.
    stop = false;
    if (closing || endRequested()) {
        stop = true;
    }
    watching = true;
    logRow(outage_rows::Watching);
    long pause = kReconnectBaseMs;
    const long cap = std::max(m_timing.watchMaxMs, kReconnectBaseMs);
    int attempts = 0;
    int lastResult = m_lastConnectResult.load(); // the failed reconnect logged its own
    long sinceReminder = 0;
    bool connected = false;
    bool asked = false;
    while (!stop) {
        // Devices that went away together (a switch restarted) spread their
        // attempts over a tenth of the pause, each by its address.
        const uint32_t spread = m_targetAddress.load() * 2654435761u;
        watchPause(pause + static_cast<long>(spread % static_cast<uint32_t>(pause / 10 + 1)));
        if (stop) {
            break;
        }
        asked = m_watchNow.exchange(false);
        ++attempts;
        ++reconnects;
        m_reconnecting = true; // back: Reconnected, the outage ends
        m_silentConnect = !asked;
        // A connect given up for a stop answers true too: only the link counts.
        connected = ConnectIrd(!asked) && linked;
        m_silentConnect = false;
        m_reconnecting = false;
        if (connected || stop) {
            break;
        }
        const int result = m_lastConnectResult.load();
        sinceReminder += pause;
        if (!asked && result != lastResult) {
            // A new way of failing is worth a line and an event; the same
            // one again only after the reminder's time.
            logConnectFailure(result);
            m_observers.Event(DeviceEvent::Kind::ConnectFailed, result);
            sinceReminder = 0;
        } else if (sinceReminder >= kWatchReminderMs) {
            m_log.AddLogLine(GetLangText(outage_rows::Unreachable) + std::to_string(attempts) +
                             GetLangText(outage_rows::Attempts));
            sinceReminder = 0;
        }
        lastResult = result;
        pause = asked ? kReconnectBaseMs : std::min(pause * 2, cap);
    }
    m_watchNow = false;
    if (connected) {
        if (!asked) {
            logRow(kRowConnected); // the quiet attempt's success is worth its line
        }
        linkRestored();
        m_linkLosses = 0;
        watching = false;
        // A new session thread refreshes the window, as after a restart.
        startSession(true);
        return true;
    }
    watching = false;
    if (closing || m_replacing) {
        return false;
    }
    // The operator gave the device up: the outage ends here.
    clearRequestFlags();
    m_observers.Event(DeviceEvent::Kind::Disconnected, 0, "watch ended");
    return false;
}

void DeviceSession::loseLink(bool peerClosed)
{
    if (linked.exchange(false)) {
        m_peerClosedLoss = peerClosed;
        m_refusedSinceLoss = false;
        m_observers.Event(DeviceEvent::Kind::LinkLost, lastError.load());
    }
}

void DeviceSession::linkRestored()
{
    ++linksRestored;
    if (m_peerClosedLoss.exchange(false) && m_refusedSinceLoss.exchange(false)) {
        m_observers.Event(DeviceEvent::Kind::Restarted, 1,
                          "closed its link and refused connections before answering again");
    }
}

void DeviceSession::restartCleanUp()
{
    m_observers.Event(DeviceEvent::Kind::Restarted);
    m_content.DestroyDatabase();
    SetCurrentOper(oper_mode::Done);
    resetSessionDisplay();
    clearRequestFlags();
    destroyQueue();
}

void DeviceSession::upgradeHandOver()
{
    SetCurrentOper(oper_mode::Done);
    m_view.SetSystemTabEnabled(false);
    m_view.SetSignalSourceEnabled(false);
    scanState = kNoScan;
    clearRequestFlags();
    destroyQueue();
    if (!m_upgradeHandOver) {
        return;
    }
    std::lock_guard lock(m_sessionLock);
    std::lock_guard threadLock(m_threadMutex);
    if (closing) {
        return;
    }
    // This thread ends here; the upgrade thread takes the link over and is
    // collected like a session thread.
    if (m_thread.joinable()) {
        m_retired.push_back(std::move(m_thread));
    }
    joinRetiredThreads();
    upgradeEnded = false;
    m_thread = std::thread(m_upgradeHandOver);
}

void DeviceSession::DisconnectCleanUp()
{
    disconnectCleanUp();
}

void DeviceSession::RestartCleanUp()
{
    restartCleanUp();
}

bool DeviceSession::RestartAfterUpgrade()
{
    m_socket.Close();
    linked = false;
    return startSession(true);
}

void DeviceSession::Teardown()
{
    {
        std::lock_guard lock(m_threadMutex);
        if (m_tornDown) {
            return;
        }
        m_tornDown = true;
    }
    closing = true;
    stop = true;
    m_socket.Stop();
    everConnected = false;
    wakeWaiters();
    // A thread in its restart step may start a successor while we collect;
    // keep collecting until no thread is left (a new one sees `closing`).
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(m_threadMutex);
            if (m_thread.joinable()) {
                threads.push_back(std::move(m_thread));
            }
            for (auto& t : m_retired) {
                threads.push_back(std::move(t));
            }
            m_retired.clear();
        }
        if (threads.empty()) {
            break;
        }
        for (auto& t : threads) {
            if (t.joinable()) {
                t.join();
            }
        }
    }
    m_socket.Close();
    SetCurrentOper(oper_mode::Done);
    destroyQueue();
    m_content.DestroyDatabase();
}

} // namespace vireo
