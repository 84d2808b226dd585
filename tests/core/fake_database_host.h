#pragma once

#include "database/database_host.h"
#include "database/list_manager.h"
#include "database/program_tree.h"
#include "lang/language_table.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vireo::testing {

// A device window and session as the database sees them: records every call.
class FakeDatabaseHost : public DatabaseHost
{
public:
    struct Request
    {
        uint8_t code;
        int a;
        int b;
        bool operator==(const Request&) const = default;
    };

    bool SendRequest(uint8_t code, int a, int b, std::span<const uint8_t> data) override
    {
        std::lock_guard lock(m_mutex);
        requests.push_back({code, a, b});
        payloads.emplace_back(data.begin(), data.end());
        return false;
    }
    void RequestDisconnect() override { ++disconnects; }
    bool IsClosing() const override { return closing; }
    void Log(std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        logLines.emplace_back(text);
    }
    void ShowSignalSource(int value) override { signalSource = value; }
    bool SignalSourceIsAsi() const override { return signalSource == 1; }
    void PostAddressCheck(std::array<uint8_t, 4> address) override
    {
        postedAddresses.push_back(address);
    }
    void FlushNeighbourCache() override { ++cacheFlushes; }
    int NumberMode() const override { return numberMode; }
    bool ShouldDisplay(int kind) override
    {
        displayAsks.push_back(kind);
        return display;
    }
    int ShowSystemItem(int kind, bool) override
    {
        systemShows.push_back(kind);
        return 0;
    }
    void SetShowRadio() override { showRadio = true; }
    void PlayingChanged() override { ++playingChanges; }
    void StartFullRefresh() override { ++fullRefreshes; }
    void PauseFor(long milliseconds) override { pausedMs += milliseconds; }
    ProgramTree& TvTree() override { return tv; }
    ProgramTree& RadioTree() override { return radio; }

    std::vector<Request> TakeRequests()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(requests, {});
    }

    ProgramTree tv;
    ProgramTree radio;
    std::vector<Request> requests;
    std::vector<std::vector<uint8_t>> payloads; // the record sent with each request
    std::vector<std::string> logLines;
    std::vector<std::array<uint8_t, 4>> postedAddresses;
    std::vector<int> displayAsks;
    std::vector<int> systemShows;
    std::atomic<bool> closing{false};
    std::atomic<int> signalSource{0};
    std::atomic<int> numberMode{1};
    bool display = true;
    std::atomic<bool> showRadio{false};
    std::atomic<int> disconnects{0};
    std::atomic<int> cacheFlushes{0};
    std::atomic<int> playingChanges{0};
    std::atomic<int> fullRefreshes{0};
    std::atomic<long> pausedMs{0};

private:
    std::mutex m_mutex;
};

// Payload builders with the field layout of the IRD's records.
inline std::vector<uint8_t> SatellitePayload(uint8_t index, uint8_t previous, uint8_t next,
                                             const std::string& name = "Sat")
{
    std::vector<uint8_t> bytes = {index, previous, next, 0, 0x2A, 0x2C, 0x6C, 0x26};
    bytes.insert(bytes.end(), name.begin(), name.end());
    bytes.push_back(0);
    return bytes;
}

inline std::vector<uint8_t> TpPayload(uint8_t index, uint8_t satellite, uint8_t previous,
                                      uint8_t next, uint16_t frequency = 3840,
                                      uint16_t symbolRate = 27500, uint8_t polarisation = 1)
{
    return {index,
            satellite,
            previous,
            next,
            static_cast<uint8_t>(frequency & 0xFF),
            static_cast<uint8_t>(frequency >> 8),
            static_cast<uint8_t>(symbolRate & 0xFF),
            static_cast<uint8_t>(symbolRate >> 8),
            0,
            1,
            polarisation,
            3};
}

struct ProgramFields
{
    uint8_t index = 0;
    uint8_t link = 0;
    uint8_t next = 0xFF;
    uint8_t tp = 0;
    int kind = 1;
    uint16_t video = 512; // PID without the kind bits
    uint16_t pcr = 512;
    uint16_t teletext = 0;
    uint16_t audio1 = 650 << 3 | 1;
    uint8_t scrambled = 0;
    uint8_t module = 0;
    std::string name = "News";
};

inline std::vector<uint8_t> ProgramPayload(const ProgramFields& f)
{
    std::vector<uint8_t> bytes(20, 0);
    const auto put = [&](size_t at, unsigned word) {
        bytes[at] = static_cast<uint8_t>(word & 0xFF);
        bytes[at + 1] = static_cast<uint8_t>(word >> 8);
    };
    bytes[0] = f.index;
    bytes[1] = f.link;
    bytes[2] = f.next;
    bytes[3] = f.tp;
    put(4, f.pcr);
    put(6, static_cast<unsigned>(f.video) << 3 | static_cast<unsigned>(f.kind));
    put(8, f.teletext);
    bytes[10] = f.scrambled;
    bytes[11] = f.module;
    put(12, f.audio1);
    bytes.insert(bytes.end(), f.name.begin(), f.name.end());
    bytes.push_back(0);
    return bytes;
}

inline ProgramFields Program(uint8_t index, uint8_t tp = 0, int kind = 1, uint8_t next = 0xFF)
{
    ProgramFields fields;
    fields.index = index;
    fields.link = index;
    fields.next = next;
    fields.tp = tp;
    fields.kind = kind;
    return fields;
}

// Language table for the log texts, built per test.
class LanguageScope
{
public:
    LanguageScope()
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
    }
    ~LanguageScope() { DestroyLanguageTable(); }
};

inline std::vector<int> IndicesOf(ListManager& db, int kind)
{
    std::vector<int> indices;
    std::lock_guard lock(db.ProgramLock(kind));
    for (const auto& record : db.Programs(kind)) {
        indices.push_back(record->Index());
    }
    return indices;
}

inline std::vector<int> SatelliteOrder(ListManager& db)
{
    std::vector<int> order;
    std::lock_guard lock(db.SatelliteLock());
    for (const auto& record : db.Satellites()) {
        order.push_back(record->Index());
    }
    return order;
}

inline std::vector<int> TpOrder(ListManager& db)
{
    std::vector<int> order;
    std::lock_guard lock(db.TpLock());
    for (const auto& record : db.Tps()) {
        order.push_back(record->Index());
    }
    return order;
}

} // namespace vireo::testing
