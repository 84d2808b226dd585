#include "link/oper_event.h"

namespace vireo {

void OperEvent::Reset()
{
    frame.fill(0);
    length = 0;
    size = 0;
    ready = false;
    sent = false;
    waiting = false;
    timeoutAllowance = 1;
    retries = 3;
    resendRequests = 0;
    next = nullptr;
    standing = false;
    inUse = false;
}

void OperEvent::Rearm()
{
    ready = true;
    sent = false;
    waiting = false;
    timeoutAllowance = 1;
    retries = 3;
    resendRequests = 0;
    next = nullptr;
    inUse.store(false, std::memory_order_release);
}

OperEventPool::~OperEventPool()
{
    while (m_free != nullptr) {
        OperEvent* next = m_free->next;
        delete m_free;
        m_free = next;
    }
}

OperEvent* OperEventPool::Alloc(bool windowClosing)
{
    std::lock_guard lock(m_mutex);
    if (m_shuttingDown || windowClosing) {
        return nullptr;
    }
    OperEvent* event = m_free;
    if (event != nullptr) {
        m_free = event->next;
        --m_freeCount;
    } else {
        event = new OperEvent;
        ++m_made;
    }
    event->Reset();
    ++m_live;
    return event;
}

void OperEventPool::Release(OperEvent* event)
{
    if (event == nullptr) {
        return;
    }
    std::lock_guard lock(m_mutex);
    --m_live;
    if (m_shuttingDown) {
        delete event;
        --m_made;
        return;
    }
    event->next = m_free;
    event->inUse = false;
    event->standing = false;
    m_free = event;
    ++m_freeCount;
}

void OperEventPool::SetShuttingDown(bool value)
{
    std::lock_guard lock(m_mutex);
    m_shuttingDown = value;
}

bool OperEventPool::ShuttingDown() const
{
    std::lock_guard lock(m_mutex);
    return m_shuttingDown;
}

size_t OperEventPool::FreeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_freeCount;
}

size_t OperEventPool::LiveCount() const
{
    std::lock_guard lock(m_mutex);
    return m_live;
}

bool OperEventPool::AllReturned() const
{
    std::lock_guard lock(m_mutex);
    if (m_live != 0 || m_freeCount != m_made) {
        return false;
    }
    // An event released twice closes the list into a loop: walk at most one
    // step more than there are events.
    size_t steps = 0;
    for (const OperEvent* e = m_free; e != nullptr && steps <= m_made; e = e->next) {
        ++steps;
    }
    return steps == m_made;
}

} // namespace vireo
