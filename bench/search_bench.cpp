// The search across devices over a fleet of maximal databases.
//
//   search_200_devices   a name search (Latin, folded) over 200 databases of
//                        255 satellites, transponders, TV and radio programs
//   search_200_devices_pid   a PID search over the same

#include "database/database_host.h"
#include "database/list_manager.h"
#include "database/program_tree.h"
#include "fleet/device_search.h"
#include "sim/database_generator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using namespace vireo;

namespace {

// A database host that shows nothing and sends nothing.
class SilentHost : public DatabaseHost
{
public:
    bool SendRequest(uint8_t, int, int, std::span<const uint8_t>) override { return false; }
    void RequestDisconnect() override {}
    bool IsClosing() const override { return false; }
    void Log(std::string_view) override {}
    void ShowSignalSource(int) override {}
    bool SignalSourceIsAsi() const override { return false; }
    void PostAddressCheck(std::array<uint8_t, 4>) override {}
    void FlushNeighbourCache() override {}
    int NumberMode() const override { return 1; }
    bool ShouldDisplay(int) override { return false; }
    int ShowSystemItem(int, bool) override { return 0; }
    void SetShowRadio() override {}
    void PlayingChanged() override {}
    void StartFullRefresh() override {}
    void PauseFor(long) override {}
    ProgramTree& TvTree() override { return m_tv; }
    ProgramTree& RadioTree() override { return m_radio; }

private:
    ProgramTree m_tv;
    ProgramTree m_radio;
};

std::vector<uint8_t> withName(const uint8_t* head, size_t size, const std::string& name)
{
    std::vector<uint8_t> payload(head, head + size);
    payload.insert(payload.end(), name.begin(), name.end());
    payload.push_back(0);
    return payload;
}

void load(ListManager& db, const sim::DeviceDatabase& device)
{
    for (const sim::Satellite& s : device.satellites) {
        const auto record = sim::EncodeSatellite(s);
        const auto payload = withName(record.data(), 8, s.name);
        db.LoadSatellite(payload.data(), payload.size());
    }
    for (const sim::Transponder& t : device.transponders) {
        const auto record = sim::EncodeTransponder(t);
        db.LoadTp(record.data(), record.size());
    }
    for (uint8_t kind : {sim::kKindTv, sim::kKindRadio}) {
        for (const sim::Program& p : device.Programs(kind)) {
            const auto record = sim::EncodeProgram(p, kind);
            const auto payload = withName(record.data(), record.size(), p.name);
            db.LoadProgram(payload.data(), payload.size());
        }
    }
}

template <class F> double medianMs(F run, int rounds)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    constexpr int kDevices = 200;
    std::vector<std::unique_ptr<SilentHost>> hosts;
    std::vector<DeviceDatabaseRef> devices;
    size_t records = 0;
    for (int i = 0; i < kDevices; ++i) {
        const sim::DeviceDatabase device =
            sim::GenerateDatabase({255, 255, 255, 255}, nullptr, sim::Numbering::Gaps,
                                  static_cast<uint32_t>(i + 1))
                .value();
        hosts.push_back(std::make_unique<SilentHost>());
        auto db = std::make_shared<ListManager>(*hosts.back());
        load(*db, device);
        records += db->Satellites().size() + db->Tps().size() + db->Programs(1).size() +
                   db->Programs(2).size();
        devices.push_back(
            {static_cast<NodeId>(i + 1), "127.0.161." + std::to_string(i + 1), std::move(db)});
    }
    size_t hits = 0;
    const SearchQuery name = *ParseSearch("news", SearchMode::Any);
    const double nameMs = medianMs([&] { hits = SearchDevices(devices, name).size(); }, 9);
    const SearchQuery pid = *ParseSearch("101h", SearchMode::Pid);
    size_t pidHits = 0;
    const double pidMs = medianMs([&] { pidHits = SearchDevices(devices, pid).size(); }, 9);
    std::printf("search_200_devices %.2f ms\n", nameMs);
    std::printf("search_200_devices_pid %.2f ms\n", pidMs);
    std::fprintf(stderr, "(%zu records; %zu and %zu hits)\n", records, hits, pidHits);
    return 0;
}
