#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <mutex>
#include <utility>

namespace vireo::ui {

// Changes that any thread makes to a widget's pending `State`, applied on the
// widget's (UI) thread in one posted call. However fast the changes come, at
// most one call waits in the event queue: a change made while one waits goes
// into the same state, so what a session floods the UI with costs memory in
// proportion to the state, never to the number of changes.
//
// The call is posted to `context`, which owns this object: once the context
// is gone the call is dropped with it.
template <class State> class CoalescedPost
{
public:
    CoalescedPost(QObject* context, std::function<void(State&)> apply)
        : m_context(context), m_apply(std::move(apply))
    {}
    CoalescedPost(const CoalescedPost&) = delete;
    CoalescedPost& operator=(const CoalescedPost&) = delete;

    // Runs `edit(state)` under the lock and makes sure a call is on its way.
    // Never blocks beyond the lock, which is only held for such edits.
    template <class Edit> void Update(Edit&& edit)
    {
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            std::forward<Edit>(edit)(m_state);
            post = !m_posted;
            m_posted = true;
        }
        if (post) {
            QMetaObject::invokeMethod(
                m_context, [this] { drain(); }, Qt::QueuedConnection);
        }
    }

    // `read(state)` under the lock, without posting anything.
    template <class Read> auto Inspect(Read&& read) const
    {
        std::lock_guard lock(m_mutex);
        return std::forward<Read>(read)(static_cast<const State&>(m_state));
    }

    // A call is posted and has not run yet.
    bool Posted() const
    {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }

    // Applies what is pending now, on the UI thread (also without waiting for
    // the posted call, which then finds nothing new).
    void Drain() { drain(); }

private:
    void drain()
    {
        State state{};
        {
            std::lock_guard lock(m_mutex);
            std::swap(state, m_state);
            m_posted = false;
        }
        m_apply(state);
    }

    QObject* m_context;
    std::function<void(State&)> m_apply;
    mutable std::mutex m_mutex;
    State m_state{};
    bool m_posted = false;
};

} // namespace vireo::ui
