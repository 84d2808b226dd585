#pragma once

#include <cstdint>

namespace vireo {

class DeviceSession;

// What a session holds besides its link: the device database and the reply
// dispatcher that fills it. The session calls these from its own thread, except
// where noted.
class SessionContent
{
public:
    virtual ~SessionContent() = default;

    // A new, empty database (session start, full refresh); any thread.
    virtual void CreateDatabase() = 0;
    // Creates the database only when there is none (session start); any thread.
    virtual void EnsureDatabase() = 0;
    // Drops the database (disconnect, restart, teardown); any thread.
    virtual void DestroyDatabase() = 0;
    // The database knows which program plays (signal polling is due).
    virtual bool HasPlayingProgram() const = 0;
    // One valid frame; `currentCode` is the code of the request in flight (0: none).
    virtual void Dispatch(DeviceSession& session, uint8_t currentCode, const uint8_t* frame,
                          uint8_t length) = 0;
};

} // namespace vireo
