#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vireo {

class HistoryDatabase;

// A maintenance window: while it runs, the alarms of a device (or of every
// device of a group) are still recorded but silenced: not published as
// active, not notified. Kept in the history file, so the desktop and the
// monitors sharing it see the same ones.
struct Silence
{
    enum class Target {
        Device = 1, // `target` is an address
        Group = 2,  // `target` is a group name of the settings file
    };
    int64_t id = 0; // set when stored
    Target kind = Target::Device;
    std::string target;  // UTF-8
    int64_t untilMs = 0; // Unix ms; the window ends then
    std::string reason;  // UTF-8, what the operator said
    std::string by;      // who set it ("desktop", an HTTP user, "file")
    int64_t createdMs = 0;
    int64_t endedMs = 0; // ended early; 0 while it runs to untilMs

    bool Running(int64_t nowMs) const { return endedMs == 0 && nowMs < untilMs; }
    // True when it covers the device at `address` of `group` (may be empty).
    bool Covers(const std::string& address, const std::string& group) const;
    bool operator==(const Silence&) const = default;
};

// Reading and writing the silences of a history file on one connection.
class SilenceStore
{
public:
    // Stores a new silence; false (why in `error`) on failure. Sets its id.
    static bool Add(HistoryDatabase& database, Silence& silence, std::string* error = nullptr);
    // Ends a silence now; false when there is no running one with `id`.
    static bool End(HistoryDatabase& database, int64_t id, int64_t nowMs);
    // The silences running at `nowMs`, oldest first.
    static std::vector<Silence> Running(HistoryDatabase& database, int64_t nowMs);
};

// True when any of `silences` running at `nowMs` covers the device.
bool IsSilenced(const std::vector<Silence>& silences, const std::string& address,
                const std::string& group, int64_t nowMs);

} // namespace vireo
