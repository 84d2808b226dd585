#include "link/oper_event_queue.h"

#include "lang/language_table.h"
#include "link/message_code.h"
#include "link/request_frame.h"

#include <cstring>

namespace vireo {

namespace {

bool isScan(uint8_t code)
{
    return code == msg::ScanSatellite || code == msg::ScanTp;
}

} // namespace

int PopLogRow(uint8_t code)
{
    switch (code) {
    case msg::SetSystemInfo:
        return 71; // "System Setting"
    case msg::SetVolume:
        return 100; // "Volumn Setting"
    case msg::SetSatellite:
        return 81; // "LNB Set"
    case msg::AddTp:
        return 84;
    case msg::DeleteTp:
        return 85;
    case msg::ModifyTp:
        return 86;
    case msg::ScanSatellite:
        return 80;
    case msg::ScanTp:
        return 87;
    case msg::AddSatellite:
        return 83;
    case msg::DeleteSatellite:
        return 82;
    case msg::StopScan:
        return 74;
    case msg::QueryProgram:
        return 189; // "Request Program Information:"
    case msg::MultiDescramble:
        return 76;
    case msg::SelectAudio:
        return 91;
    case msg::StartUpgrade:
        return 50; // "Upgrade"
    case msg::Reboot:
        return 210;
    default:
        return -1;
    }
}

int InitialRetries(uint8_t code)
{
    switch (code) {
    case msg::QueryVersion:
    case msg::StartUpgrade:
    case msg::Reboot:
    case msg::ScanSatellite:
    case msg::ScanTp:
        return 1;
    default:
        return 3;
    }
}

OperEventQueue::OperEventQueue(OperQueueOwner& owner) : m_owner(owner) {}

OperEventQueue::~OperEventQueue()
{
    Destroy();
}

bool OperEventQueue::IsEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_head == nullptr;
}

bool OperEventQueue::IsClosed() const
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

size_t OperEventQueue::QueuedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_count;
}

const OperEvent* OperEventQueue::StandingPoll() const
{
    std::lock_guard lock(m_mutex);
    return m_standingPoll;
}

void OperEventQueue::returnToPool(OperEvent* event)
{
    event->inUse = false;
    event->standing = false;
    m_owner.Pool().Release(event);
}

void OperEventQueue::drop(OperEvent* event)
{
    const uint8_t code = event->Code();
    returnToPool(event);
    m_owner.OnRequestDropped(code);
}

bool OperEventQueue::Push(uint8_t code, int a, int b, std::span<const uint8_t> data)
{
    // One critical section from the checks to the enqueue: the standing poll
    // cannot be given back to the pool by a Clear while it is on its way in,
    // and two pushers cannot both queue a poll.
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        m_owner.OnRequestDropped(code);
        return false;
    }
    if (code == msg::QuerySignal) {
        for (OperEvent* e = m_head; e != nullptr; e = e->next) {
            if (e->Code() == msg::QuerySignal) {
                return false; // at most one poll waits in the queue
            }
        }
        if (m_standingPoll != nullptr) {
            if (m_standingPoll->inUse.load(std::memory_order_acquire)) {
                return false; // the poll is already in flight
            }
            OperEvent* poll = m_standingPoll;
            poll->Rearm();
            poll->inUse = true;
            enqueueLocked(poll);
            return false;
        }
    }

    OperEvent* event = m_owner.Pool().Alloc(m_owner.IsWindowClosing());
    if (event == nullptr) {
        m_owner.OnRequestDropped(code);
        return true;
    }
    const std::optional<RequestFrame> frame = ComposeRequest(code, a, b, data);
    if (!frame || m_owner.IsStopping()) {
        m_owner.Pool().Release(event);
        m_owner.OnRequestDropped(code);
        return false;
    }
    std::memcpy(event->frame.data(), frame->bytes.data(), frame->size());
    event->length = frame->length;
    event->size = static_cast<int>(frame->size());
    event->retries = InitialRetries(code);
    event->ready = true;
    event->inUse = true;
    if (code == msg::QuerySignal) {
        m_standingPoll = event;
        event->standing = true;
    }
    enqueueLocked(event);
    return false;
}

bool OperEventQueue::enqueueLocked(OperEvent* event)
{
    uint8_t currentCode = 0;
    {
        std::lock_guard operLock(m_owner.OperLock());
        const OperEvent* current = m_owner.CurrentSlot();
        currentCode = current != nullptr ? current->Code() : 0;
    }
    if (isScan(event->Code())) {
        event->timeoutAllowance = 1;
        event->retries = 1;
    }
    event->next = nullptr;
    if (isScan(currentCode)) {
        if (event->Code() != msg::StopScan) {
            // While a scan awaits its reply only StopScan gets through.
            if (event == m_standingPoll) {
                event->Rearm();
            } else {
                drop(event);
            }
            return false;
        }
        // Under the queue lock nothing can become the request in flight, so
        // this releases the scan read above (or nothing, if its answer has
        // released it meanwhile).
        m_owner.ReleaseCurrent();
        event->next = m_head;
        m_head = event;
        if (m_tail == nullptr) {
            m_tail = event;
        }
        ++m_count;
        m_owner.OnScanPreempted();
        return true;
    }
    if (m_tail == nullptr) {
        m_head = m_tail = event;
    } else {
        m_tail->next = event;
        m_tail = event;
    }
    ++m_count;
    return true;
}

OperEvent* OperEventQueue::popLocked()
{
    OperEvent* event = m_head;
    if (event == nullptr) {
        return nullptr;
    }
    m_head = event->next;
    if (m_head == nullptr) {
        m_tail = nullptr;
    }
    event->next = nullptr;
    --m_count;
    switch (event->Code()) {
    case msg::QueryTp:
        if (event->PayloadByte(0) == 0xFF) {
            allTpQuery = true;
        }
        break;
    case msg::ScanSatellite:
        satScanRunning = true;
        break;
    case msg::ScanTp:
        tpScanRunning = true;
        break;
    case msg::QuerySatellite:
        if (event->PayloadByte(0) == 0xFF) {
            allSatQuery = true;
        }
        break;
    case msg::QueryProgram:
        if (event->PayloadByte(0) == 0xFF) {
            const int kind = event->PayloadByte(6) & 0x07;
            if (kind == 1) {
                allTvQuery = true;
            } else if (kind == 2) {
                allRadioQuery = true;
            }
        }
        break;
    default:
        break;
    }
    return event;
}

void OperEventQueue::logTaken(uint8_t code)
{
    const int row = PopLogRow(code);
    if (row >= 0) {
        m_owner.Log(GetLangText(row));
    }
}

OperEvent* OperEventQueue::Pop()
{
    if (m_owner.IsStopping()) {
        return nullptr;
    }
    OperEvent* event;
    {
        std::lock_guard lock(m_mutex);
        event = popLocked();
    }
    if (event != nullptr) {
        logTaken(event->Code());
    }
    return event;
}

OperEvent* OperEventQueue::TakeNext()
{
    if (m_owner.IsStopping()) {
        return nullptr;
    }
    OperEvent* event;
    uint8_t code = 0;
    {
        std::lock_guard lock(m_mutex);
        std::lock_guard operLock(m_owner.OperLock());
        OperEvent*& current = m_owner.CurrentSlot();
        if (current != nullptr) {
            return nullptr;
        }
        event = popLocked();
        if (event == nullptr) {
            return nullptr;
        }
        current = event;
        code = event->Code();
    }
    // Once the locks are let go the event may be released at any time: the
    // log line is written from the code read under them.
    logTaken(code);
    return event;
}

void OperEventQueue::Release(OperEvent* event)
{
    if (event == nullptr) {
        return;
    }
    if (event->standing) {
        event->Rearm();
        return;
    }
    returnToPool(event);
}

void OperEventQueue::Clear()
{
    if (m_owner.IsStopping()) {
        return;
    }
    std::lock_guard lock(m_mutex);
    std::lock_guard operLock(m_owner.OperLock());
    while (m_head != nullptr) {
        OperEvent* event = m_head;
        m_head = event->next;
        if (event != m_standingPoll) {
            drop(event);
        } else {
            event->Rearm();
        }
    }
    m_tail = nullptr;
    m_count = 0;
    if (m_standingPoll != nullptr) {
        OperEvent* poll = m_standingPoll;
        m_standingPoll = nullptr;
        if (m_owner.CurrentSlot() == poll) {
            poll->standing = false; // in flight: it goes to the pool when released
        } else {
            drop(poll);
        }
    }
}

void OperEventQueue::Destroy()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return;
        }
        std::lock_guard operLock(m_owner.OperLock());
        m_closed = true;
        OperEvent*& current = m_owner.CurrentSlot();
        while (m_head != nullptr) {
            OperEvent* event = m_head;
            m_head = event->next;
            if (current == event) {
                current = nullptr;
            }
            if (event == m_standingPoll) {
                m_standingPoll = nullptr;
            }
            drop(event);
        }
        m_tail = nullptr;
        m_count = 0;
        if (m_standingPoll != nullptr) {
            if (current == m_standingPoll) {
                current = nullptr;
            }
            drop(m_standingPoll);
            m_standingPoll = nullptr;
        }
    }
    m_owner.ReleaseCurrent();
}

} // namespace vireo
