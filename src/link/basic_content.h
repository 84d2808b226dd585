#pragma once

#include "link/session_content.h"

#include <atomic>

namespace vireo {

// The link-level part of reply handling: a status answer or a data reply
// releases the request it answers, transport errors and re-send requests
// reset the request's retries, and the status texts are logged. It keeps no
// device database; tools and tests that only need the link use it as is.
class BasicContent : public SessionContent
{
public:
    void CreateDatabase() override {}
    void EnsureDatabase() override {}
    void DestroyDatabase() override {}
    bool HasPlayingProgram() const override { return m_playing.load(); }
    void Dispatch(DeviceSession& session, uint8_t currentCode, const uint8_t* frame,
                  uint8_t length) override;

    void SetPlaying(bool playing) { m_playing = playing; }

    // Handles a StatusReply payload (echoed code, status); returns true when
    // the status was one of the link-level ones handled here.
    static bool HandleLinkStatus(DeviceSession& session, uint8_t currentCode, uint8_t echo,
                                 uint8_t status);

private:
    std::atomic<bool> m_playing{false};
};

} // namespace vireo
