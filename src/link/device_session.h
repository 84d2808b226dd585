#pragma once

#include "link/device_observer.h"
#include "link/device_view.h"
#include "link/frame_splitter.h"
#include "link/hd_socket.h"
#include "link/link_timing.h"
#include "link/oper_event_queue.h"
#include "link/session_content.h"
#include "log/log_buffer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace vireo {

// Process-wide state the sessions share with the main window.
struct SessionContext
{
    OperEventPool pool;
    // The main window's "Hex Showing" choice: 2 hexadecimal, 1 decimal.
    std::atomic<uint8_t> hexShowing{2};
};

// Where the threads of a session sleep between their steps.
struct SessionWaiter
{
    std::mutex mutex;
    std::condition_variable changed;
};

// Modes of SetCurrentOper.
namespace oper_mode {
inline constexpr int Take = 0;
inline constexpr int Done = 1;
inline constexpr int SendFailed = 2;
inline constexpr int Sent = 3;
inline constexpr int TimedOut = 4;
inline constexpr int ResendRequested = 5;
} // namespace oper_mode

// The link of one device window to its IRD: socket, queue of requests, the
// request in flight and the session thread that owns the conversation. The
// window's caption (held by its LogBuffer) names the device.
class DeviceSession : public OperQueueOwner
{
public:
    static constexpr uint16_t kIrdPort = 8888;
    static constexpr int kNoScan = 2;
    // Quiet time after which waiting bytes are checked for a stuck frame.
    static constexpr long kPendingQuietMs = 100;

    DeviceSession(SessionContext& context, LogBuffer& log, DeviceView& view,
                  SessionContent& content, LinkTiming timing = {}, uint16_t port = kIrdPort);
    ~DeviceSession() override;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // The connect step: address from the caption, resolution, connection to
    // the IRD's port, one log line for the outcome (`quiet`: only a failure
    // is logged).
    bool ConnectIrd(bool quiet = false);
    bool StartSession();
    bool RefreshIrd();
    // The UI's connect sequence: connect, start the session, refresh.
    bool ConnectAndStart();

    bool SendRequest(uint8_t code, int a = 0, int b = 0, std::span<const uint8_t> data = {});
    void SetCurrentOper(int mode, OperEvent* event = nullptr);
    // Ends the request in flight when its code is `code`, as if answered:
    // for a caller that has taken the device's refusal as the answer and
    // wants the request neither waited on nor sent again. True when it did.
    bool ReleaseIfCurrent(uint8_t code);

    void RequestDisconnect();
    void RequestRestart();
    void RequestUpgrade();

    // A session that gave up on a lost link and watches the device in the
    // background (`LinkTiming::watchAfterGivingUp`) tries at once instead of
    // at its next step, with its log lines, as an operator's connect would.
    // False when the session is not watching.
    bool WatchNow();

    // The window is closing: mark it so, stop everything and wake whatever
    // waits. The thread then ends without clean-up or log lines.
    void RequestStop();
    // Ends the threads and frees the session's queue and database. Idempotent.
    void Teardown();

    // The body of the upgrade thread, started when the device accepts an
    // upgrade: the session thread cleans up and ends, and the upgrade thread
    // goes on over the same link. The session collects it like its own.
    void SetUpgradeHandOver(std::function<void()> handOver)
    {
        m_upgradeHandOver = std::move(handOver);
    }
    // The clean-ups the upgrade thread runs at its end, as a session thread
    // does after its loop.
    void DisconnectCleanUp();
    void RestartCleanUp();
    // After an upgrade: drop the connection and start a new session thread,
    // which connects again and refreshes the device (called from the upgrade
    // thread, which is collected later).
    bool RestartAfterUpgrade();

    // --- state shared with the dispatcher and the window ---
    std::atomic<bool> closing{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> everConnected{false};
    std::atomic<bool> linked{false};
    std::atomic<bool> restartRequested{false};
    std::atomic<bool> disconnectRequested{false};
    std::atomic<bool> upgradeRequested{false};
    std::atomic<bool> refreshed{false};
    std::atomic<int> scanState{kNoScan};
    std::atomic<int> scanCount{0};
    std::atomic<int> pollCountdown{10};
    std::atomic<bool> queryChecked{false};
    std::atomic<bool> dataOk{true};
    std::atomic<bool> stopScanSent{false};
    std::atomic<int> lastError{0};
    std::atomic<uint8_t> numberMode{2};
    // The window's "Query Signal" check box, mirrored for the session thread.
    std::atomic<bool> querySignalTicked{true};
    std::atomic<bool> threadEnded{true};
    // The link was lost and given up; the session tries the device now and
    // then (see LinkTiming::watchAfterGivingUp).
    std::atomic<bool> watching{false};
    std::atomic<bool> threadRunning{false};
    // An upgrade thread owns the link; it has ended (set at its end).
    std::atomic<bool> upgradeRunning{false};
    std::atomic<bool> upgradeEnded{false};
    // Reconnect attempts after a lost link, over the session's life, and
    // those that brought a link back (not the first link of a session that
    // was started unconnected).
    std::atomic<int> reconnects{0};
    std::atomic<int> linksRestored{0};
    // Requests written to the device and replies that did not come in time
    // (a request may time out more than once), over the session's life.
    std::atomic<uint64_t> requestsSent{0};
    std::atomic<uint64_t> requestTimeouts{0};
    // A delete awaits its answer: the program menus offer nothing. Set by the
    // command before its request is queued; cleared when that request ends in
    // any way (answered, dropped, never queued) and by every refresh. Lives
    // as long as the window, unlike the queue.
    std::atomic<bool> deletePending{false};

    LogBuffer& Log() { return m_log; }
    DeviceView& View() { return m_view; }
    HdSocket& Socket() { return m_socket; }
    // The queue of the running session (null when none). Shared: whoever
    // holds it keeps it alive, though closed once the session has ended.
    std::shared_ptr<OperEventQueue> Queue();
    std::recursive_mutex& SessionLock() { return m_sessionLock; }
    const LinkTiming& Timing() const { return m_timing; }
    // The IPv4 address (host byte order) the last connect step went to; 0
    // before the first.
    uint32_t TargetAddress() const { return m_targetAddress; }
    // Code of the request in flight, 0 when none.
    uint8_t CurrentCode();
    // A copy of the frame of the request in flight (empty when none).
    std::vector<uint8_t> CurrentFrame();
    // Sleeps for `protocolMs`, ending early when the session stops.
    void PauseFor(long protocolMs);
    // Blocks until `done()` holds or the session stops; `done` is checked
    // under the waiter's lock whenever the waiter is notified. Returns done().
    bool WaitUntil(const std::function<bool()>& done);
    // What a waiting thread sleeps on: whoever makes `done` true takes its
    // lock and notifies it. Shared, so that a late notifier outlives nothing.
    std::shared_ptr<SessionWaiter> Waiter() const { return m_waiter; }

    // Who keeps track of this device beside its window (history, fleet).
    DeviceObservers& Observers() { return m_observers; }

    // OperQueueOwner
    bool IsStopping() const override { return stop.load(); }
    bool IsWindowClosing() const override { return closing.load(); }
    OperEventPool& Pool() override { return m_context.pool; }
    std::mutex& OperLock() override { return m_operLock; }
    OperEvent*& CurrentSlot() override { return m_current; }
    void ReleaseCurrent() override { SetCurrentOper(oper_mode::Done); }
    void OnScanPreempted() override;
    void OnRequestDropped(uint8_t code) override;
    void Log(std::string_view text) override;

    // Time limit, in protocol seconds, for the reply to a request.
    long ReplyLimitSeconds(uint8_t code) const;

private:
    // `refreshWhenLinked`: the session follows a restart clean-up, which
    // dropped the device's database, and fetches it again once linked.
    bool startSession(bool refreshWhenLinked);
    void threadMain(bool refreshWhenLinked);
    // The full refresh without clearing `stop`, so the session thread may run
    // it without undoing a stop asked for meanwhile.
    void refresh();
    void receiveStep();
    bool reconnect();
    void sendCurrent(OperEvent* event);
    void releaseEvent(OperEvent* event);
    // A request leaves the session, answered or not.
    void requestEnded(uint8_t code);
    // A disconnect, restart or upgrade is asked for, or a new session takes over.
    bool endRequested() const;
    // One send of the request in flight is used up (operation lock held):
    // `awaitingReply` after a send, not after a failure or a time-out. With
    // no send left the request is released.
    void useSend(OperEvent*& current, bool awaitingReply);
    void resetSessionDisplay();
    void clearRequestFlags();
    void destroyQueue();
    // `tellObservers`: false when the link was lost and given up; observers
    // then keep the loss (an outage goes on while the device is watched).
    void disconnectCleanUp(bool tellObservers = true);
    void restartCleanUp();
    // The background watch after a given-up link (session thread): true when
    // the device came back and a new session took over.
    bool watch();
    void logConnectFailure(int result);
    // Pauses up to `protocolMs`; ends early on stop or WatchNow.
    void watchPause(long protocolMs);
    // The link went down without being asked to: mark it and tell the
    // observers. `peerClosed`: the device closed it.
    void loseLink(bool peerClosed = false);
    // The link is back after a loss: a device that closed the link and then
    // refused its port before answering again has restarted on its own
    // (Restarted, code 1), whoever restarted it.
    void linkRestored();
    void upgradeHandOver();
    void logRow(int row);
    void joinRetiredThreads();
    void wakeWaiters();

    SessionContext& m_context;
    LogBuffer& m_log;
    DeviceView& m_view;
    SessionContent& m_content;
    DeviceObservers m_observers;
    LinkTiming m_timing;
    uint16_t m_port;

    std::recursive_mutex m_sessionLock;
    std::mutex m_operLock;
    OperEvent* m_current = nullptr;
    HdSocket m_socket;
    Ipv4Target m_target;
    std::atomic<uint32_t> m_targetAddress{0};

    std::recursive_mutex m_queueMutex; // guards the queue pointer
    std::shared_ptr<OperEventQueue> m_queue;

    std::array<uint8_t, FrameSplitter::kReceiveBufferSize> m_receiveBuffer{};
    FrameSplitter m_splitter;

    std::mutex m_threadMutex;
    std::thread m_thread;
    std::vector<std::thread> m_retired; // ended threads still to be joined
    std::function<void()> m_upgradeHandOver;
    std::shared_ptr<SessionWaiter> m_waiter = std::make_shared<SessionWaiter>();
    bool m_tornDown = false;
    std::atomic<bool> m_replacing{false}; // StartSession is ending the previous thread
    int m_linkLosses = 0;                 // since a frame last came in (session thread only)
    bool m_reconnecting = false;          // ConnectIrd runs for reconnect() (session thread only)
    bool m_watchAfterLoop = false;        // the loop gave up a lost link (session thread only)
    std::atomic<bool> m_watchNow{false};  // the operator asked to try the watched device now
    bool m_silentConnect = false;         // ConnectIrd logs no failure (the watch logs its own)
    std::atomic<int> m_lastConnectResult{0};
    std::atomic<bool> m_peerClosedLoss{false};   // the last loss: the device closed the link
    std::atomic<bool> m_refusedSinceLoss{false}; // and its port refused a connect since
    bool m_queuedOnLoop = false; // the session thread queued a request (session thread only)
    std::chrono::steady_clock::time_point m_nextSignalPoll{}; // with signalPollMs (session thread)
};

} // namespace vireo
