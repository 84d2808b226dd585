#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo {

class DatabaseContent;
class DeviceSession;
class ListManager;
class OperEventQueue;

// Routes every valid frame from the IRD: records go to the device database,
// the request they answer is released, follow-up queries are queued, status
// answers become log lines and reactions. Runs in the session thread only.
class ReplyDispatcher
{
public:
    // Returns false only when a transponder query ran past the last satellite
    // (the session then ends).
    bool Dispatch(DatabaseContent& core, ListManager& database, uint8_t currentCode,
                  const uint8_t* frame, uint8_t length);

    // Forgets what the last signal report said (a new session).
    void Reset();

private:
    void dataReply(DatabaseContent& core, ListManager& db, uint8_t code, uint8_t current,
                   const uint8_t* payload, size_t length);
    bool statusReply(DatabaseContent& core, ListManager& db, uint8_t current, uint8_t echo,
                     uint8_t status);
    bool requestStatus(DatabaseContent& core, ListManager& db, uint8_t current, uint8_t echo,
                       uint8_t status);
    void endOfRefresh(DatabaseContent& core, ListManager& db, uint8_t current, uint8_t echo);
    void cascade(DatabaseContent& core, ListManager& db, int fromKind);
    void notOnDevice(DatabaseContent& core, ListManager& db, int kind);
    void showSignal(DatabaseContent& core, ListManager& db, const uint8_t* payload);
    void releaseIf(DeviceSession& session, bool condition);
    int display(DatabaseContent& core, ListManager& db, int kind, bool force = false);

    bool m_havePrevious = false;
    bool m_previousPlays = false;
    bool m_previousLocked = false;
};

} // namespace vireo
