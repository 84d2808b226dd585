#include "core/fake_database_host.h"
#include "database/list_manager.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace vireo;
using namespace vireo::testing;

namespace {

// Random replies of a confused or hostile IRD: small index ranges so that
// records collide, random links, random names (GBK lead bytes included) and
// random truncation.
class ReplyFuzzer
{
public:
    explicit ReplyFuzzer(uint32_t seed) : m_random(seed) {}

    int Pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(m_random); }
    uint8_t Link(int range) { return Pick(5) == 0 ? 0xFF : static_cast<uint8_t>(Pick(range)); }

    std::vector<uint8_t> Name()
    {
        std::vector<uint8_t> name(static_cast<size_t>(Pick(48)));
        for (auto& byte : name) {
            byte = static_cast<uint8_t>(Pick(4) == 0 ? 0x81 + Pick(0x7E) : 'a' + Pick(26));
        }
        if (Pick(3) != 0) {
            name.push_back(0);
        }
        return name;
    }

    std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes)
    {
        if (Pick(6) == 0) {
            bytes.resize(static_cast<size_t>(Pick(static_cast<int>(bytes.size()) + 1)));
        }
        return bytes;
    }

    // Mostly a plausible chain 0, 1, ... last-1; sometimes anything.
    std::array<uint8_t, 3> Chain(int count)
    {
        const int index = Pick(count);
        if (Pick(3) == 0) {
            return {static_cast<uint8_t>(Pick(12) == 0 ? 0xFF : index), Link(count), Link(count)};
        }
        return {static_cast<uint8_t>(index), static_cast<uint8_t>(index == 0 ? 0xFF : index - 1),
                static_cast<uint8_t>(index == count - 1 ? 0xFF : index + 1)};
    }

    std::vector<uint8_t> Satellite()
    {
        const auto chain = Chain(6);
        std::vector<uint8_t> bytes = {chain[0], chain[1], chain[2], static_cast<uint8_t>(Pick(256)),
                                      1,        2,        3,        4};
        const auto name = Name();
        bytes.insert(bytes.end(), name.begin(), name.end());
        return Truncated(bytes);
    }

    std::vector<uint8_t> Tp()
    {
        const auto chain = Chain(10);
        std::vector<uint8_t> bytes = {chain[0], static_cast<uint8_t>(Pick(6)), chain[1], chain[2]};
        for (int i = 0; i < 8; ++i) {
            bytes.push_back(static_cast<uint8_t>(Pick(256)));
        }
        return Truncated(bytes);
    }

    std::vector<uint8_t> Program()
    {
        std::vector<uint8_t> bytes(20);
        for (auto& byte : bytes) {
            byte = static_cast<uint8_t>(Pick(256));
        }
        bytes[0] = static_cast<uint8_t>(Pick(30) == 0 ? 0xFF : Pick(12));
        bytes[1] = static_cast<uint8_t>(Pick(3) == 0 ? Pick(12) : bytes[0]);
        bytes[2] = Pick(3) == 0 ? Link(12) : bytes[0] >= 11 ? 0xFF : bytes[0] + 1;
        bytes[3] = static_cast<uint8_t>(Pick(10));
        bytes[6] = static_cast<uint8_t>((bytes[6] & 0xF8) | (Pick(8) == 0 ? Pick(8) : 1 + Pick(2)));
        bytes[11] = static_cast<uint8_t>(Pick(4));
        const auto name = Name();
        bytes.insert(bytes.end(), name.begin(), name.end());
        return Truncated(bytes);
    }

    std::vector<uint8_t> Playing()
    {
        std::vector<uint8_t> bytes(static_cast<size_t>(Pick(3) == 0   ? 6
                                                       : Pick(4) == 0 ? Pick(21)
                                                                      : 20));
        if (bytes.size() > 6) {
            bytes[0] = static_cast<uint8_t>(Pick(12));
            bytes[6] = static_cast<uint8_t>(1 + Pick(2));
        }
        return bytes;
    }

private:
    std::mt19937 m_random;
};

// Applies one random reply or command, as the session thread would.
void Step(ListManager& db, FakeDatabaseHost& host, ReplyFuzzer& fuzz)
{
    const auto feed = [&](int (ListManager::*op)(const uint8_t*, size_t),
                          const std::vector<uint8_t>& bytes) {
        (db.*op)(bytes.data(), bytes.size());
    };
    switch (fuzz.Pick(24)) {
    case 0:
        feed(fuzz.Pick(2) ? &ListManager::LoadSatellite : &ListManager::MergeSatellite,
             fuzz.Satellite());
        break;
    case 1:
        feed(fuzz.Pick(2) ? &ListManager::LoadTp : &ListManager::MergeTp, fuzz.Tp());
        break;
    case 2:
    case 3:
        feed(fuzz.Pick(2) ? &ListManager::LoadProgram : &ListManager::MergeProgram, fuzz.Program());
        break;
    case 4:
        feed(fuzz.Pick(2) ? &ListManager::StorePlaying : &ListManager::ReplacePlaying,
             fuzz.Playing());
        break;
    case 5:
    case 17:
    case 18:
        db.ShowItem(1 + fuzz.Pick(6), {}, fuzz.Pick(2) == 0);
        break;
    case 6:
        db.CheckComplete(1 + fuzz.Pick(5));
        break;
    case 7: {
        const int kind = 1 + fuzz.Pick(2);
        ProgramRecord* record = nullptr;
        {
            std::lock_guard lock(db.ProgramLock(kind));
            const auto& list = db.Programs(kind);
            if (!list.empty()) {
                record = list[static_cast<size_t>(fuzz.Pick(static_cast<int>(list.size())))].get();
            }
        }
        db.SetPendingProgram(record);
        if (db.RemoveProgram(nullptr, true) == 0) {
            db.RenumberPrograms();
        }
        break;
    }
    case 8: {
        std::lock_guard lock(db.TpLock());
        if (!db.Tps().empty()) {
            db.SetPendingTp(
                db.Tps()[static_cast<size_t>(fuzz.Pick(static_cast<int>(db.Tps().size())))].get());
        }
        break;
    }
    case 9:
        if (db.RemoveTp(nullptr, true) == 0) {
            db.RenumberPrograms();
        }
        break;
    case 10: {
        std::lock_guard lock(db.SatelliteLock());
        if (!db.Satellites().empty()) {
            const auto& list = db.Satellites();
            db.SetPendingSatellite(
                list[static_cast<size_t>(fuzz.Pick(static_cast<int>(list.size())))].get());
        }
        break;
    }
    case 11:
        if (db.RemoveSatellite(nullptr, fuzz.Pick(2) == 0) == 0) {
            db.RenumberPrograms();
        }
        break;
    case 12:
        db.LoadSatellite(nullptr, 0);
        db.LoadTp(nullptr, 0);
        break;
    case 13:
        db.LoadProgram(nullptr, static_cast<size_t>(1 + fuzz.Pick(2)));
        break;
    case 14:
        if (fuzz.Pick(40) == 0) {
            (fuzz.Pick(2) ? host.tv : host.radio).Clear();
        }
        break;
    default:
        for (const int kind : {3, 4, 1, 2}) {
            db.CheckComplete(kind);
            db.ShowItem(kind);
        }
        break;
    }
}

// Everything that must hold whatever the device sent.
void CheckInvariants(ListManager& db, FakeDatabaseHost& host)
{
    std::lock_guard satelliteLock(db.SatelliteLock());
    std::lock_guard tpLock(db.TpLock());
    std::lock_guard tvLock(db.ProgramLock(1));
    std::lock_guard radioLock(db.ProgramLock(2));

    std::set<const void*> satellites;
    std::set<int> satelliteIndices;
    for (const auto& record : db.Satellites()) {
        ASSERT_NE(record->Index(), kNoIndex);
        ASSERT_TRUE(satelliteIndices.insert(record->Index()).second) << "duplicate satellite";
        ASSERT_LE(record->Name().size(), SatelliteRecord::kMaxName);
        satellites.insert(record.get());
    }
    std::set<const void*> tps;
    std::set<int> tpIndices;
    for (const auto& record : db.Tps()) {
        ASSERT_NE(record->Index(), kNoIndex);
        ASSERT_TRUE(tpIndices.insert(record->Index()).second) << "duplicate TP";
        ASSERT_LT(record->label.size(), TpRecord::kLabelSize);
        tps.insert(record.get());
    }
    std::set<const void*> programs[2];
    for (int kind : {1, 2}) {
        int previous = -1;
        for (const auto& record : db.Programs(kind)) {
            ASSERT_GT(record->Index(), previous) << "program list out of order";
            ASSERT_NE(record->Index(), kNoIndex);
            ASSERT_EQ(record->Kind(), kind);
            previous = record->Index();
            ASSERT_LT(record->label.size(), ProgramRecord::kLabelSize);
            char head[8];
            std::snprintf(head, sizeof head, "P %03d:", record->Index() + 1);
            ASSERT_EQ(record->label.substr(0, 6), head);
            programs[kind - 1].insert(record.get());
        }
    }

    // Every node with data points at a live record of its kind, which names
    // that node back; programs hang under TPs, TPs under satellites.
    for (const bool radio : {false, true}) {
        ProgramTree& tree = radio ? host.radio : host.tv;
        std::vector<TreeNodeId> pending = tree.Children(kNoTreeNode);
        while (!pending.empty()) {
            const TreeNode node = tree.Node(pending.back());
            pending.pop_back();
            pending.insert(pending.end(), node.children.begin(), node.children.end());
            const int level = tree.Level(node.id);
            const TreeNodeData parentKind = tree.Node(node.parent).dataKind;
            switch (node.dataKind) {
            case TreeNodeData::Satellite: {
                ASSERT_TRUE(satellites.count(node.data)) << "satellite node without its record";
                const auto* record = static_cast<const SatelliteRecord*>(node.data);
                ASSERT_EQ(radio ? record->radioNode : record->tvNode, node.id);
                ASSERT_EQ(level, 0);
                break;
            }
            case TreeNodeData::Tp: {
                ASSERT_TRUE(tps.count(node.data)) << "TP node without its record";
                const auto* record = static_cast<const TpRecord*>(node.data);
                ASSERT_EQ(radio ? record->radioNode : record->tvNode, node.id);
                ASSERT_EQ(parentKind, TreeNodeData::Satellite);
                break;
            }
            case TreeNodeData::Program: {
                ASSERT_TRUE(programs[radio ? 1 : 0].count(node.data))
                    << "program node without its record";
                ASSERT_EQ(static_cast<const ProgramRecord*>(node.data)->node, node.id);
                ASSERT_EQ(parentKind, TreeNodeData::Tp);
                break;
            }
            case TreeNodeData::None:
                ASSERT_EQ(parentKind, TreeNodeData::Program);
                ASSERT_EQ(level, 3);
                break;
            }
        }
    }

    const auto isLiveOrNone = [](const std::set<const void*>& live, const void* record) {
        return record == nullptr || live.count(record) > 0;
    };
    ASSERT_TRUE(isLiveOrNone(satellites, db.PendingSatellite()));
    ASSERT_TRUE(isLiveOrNone(tps, db.PendingTp()));
    const void* pendingProgram = db.PendingProgram();
    ASSERT_TRUE(pendingProgram == nullptr || programs[0].count(pendingProgram) ||
                programs[1].count(pendingProgram));
}

TEST(ListInvariantsTest, RandomRepliesKeepTheListsSound)
{
    LanguageScope language;
    for (const uint32_t seed : {1u, 7u, 42u, 2024u, 31337u}) {
        FakeDatabaseHost host;
        host.numberMode = 1 + static_cast<int>(seed % 2);
        host.signalSource = static_cast<int>(seed % 3 == 0);
        {
            ListManager db(host);
            ReplyFuzzer fuzz(seed);
            for (int step = 0; step < 8000; ++step) {
                Step(db, host, fuzz);
                CheckInvariants(db, host);
                if (::testing::Test::HasFatalFailure()) {
                    FAIL() << "seed " << seed << ", step " << step;
                }
            }
        }
        EXPECT_EQ(host.tv.Size(), 0u) << seed;
        EXPECT_EQ(host.radio.Size(), 0u) << seed;
    }
}

// The UI thread reads and shows while the session thread stores and removes.
TEST(ListInvariantsTest, UiReadsWhileTheSessionStores)
{
    LanguageScope language;
    FakeDatabaseHost host;
    {
        ListManager db(host);
        std::atomic<bool> done{false};
        std::thread session([&] {
            ReplyFuzzer fuzz(99);
            for (int step = 0; step < 4000; ++step) {
                Step(db, host, fuzz);
                if (step % 50 == 0) {
                    std::vector<uint8_t> system(20, 0);
                    system[0] = static_cast<uint8_t>(step & 0x0E);
                    db.StoreSystemRecord(system.data(), system.size());
                    const uint8_t volume = static_cast<uint8_t>(step);
                    db.StoreVolume(&volume, 1);
                }
            }
            done = true;
        });
        ReplyFuzzer fuzz(5);
        size_t seen = 0;
        do { // at least one pass, however fast the session thread is
            for (const int kind : {3, 4, 1, 2, 5, 6}) {
                db.ShowItem(kind, {}, fuzz.Pick(2) == 0);
            }
            seen += db.PlayingText().size();
            {
                std::lock_guard lock(db.ProgramLock(1));
                for (const auto& record : db.Programs(1)) {
                    seen += record->label.size();
                }
            }
            const TreeNodeId any = host.tv.NodeAtAbsoluteIndex(fuzz.Pick(20));
            host.tv.SetSelected(any);
            db.SwitchPidFormat(host.tv, 1 + fuzz.Pick(2));
            if (auto system = db.System()) {
                seen += system->PollingInterval();
            }
            if (auto volume = db.Volume()) {
                seen += volume->volume;
            }
            seen += db.IsComplete(1) + db.HasPlayingProgram();
        } while (!done);
        session.join();
        CheckInvariants(db, host);
        (void)seen; // what the reads saw varies with the timing; they only must not race
    }
    EXPECT_EQ(host.tv.Size(), 0u);
}

} // namespace
