// The simulated IRD's answers, over loopback, as a manager sees them.

#include "sim/database_generator.h"
#include "sim/ird_responder.h"
#include "sim/simulator.h"
#include "sim_client.h"

#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::sim;
using namespace simtest;

namespace {

// Numbered 0, 1, 2...: these tests follow the device's index arithmetic.
DeviceDatabase generated(DatabaseSize size, Numbering numbering = Numbering::Dense)
{
    std::string error;
    auto db = GenerateDatabase(size, &error, numbering);
    EXPECT_TRUE(db) << error;
    return db.value_or(DeviceDatabase{});
}

SimulatorOptions quiet()
{
    SimulatorOptions options;
    options.log = [](const std::string&) {};
    return options;
}

// A started simulator and a connected client on the test's own address.
struct Rig
{
    Simulator sim;
    SimClient client;

    Rig(int addressNumber, DeviceDatabase db, SimulatorOptions options = quiet())
        : sim(std::move(db), std::move(options)),
          client(TestAddress(addressNumber), startedAt(sim, addressNumber))
    {
        EXPECT_TRUE(client.Connected());
    }

    static uint16_t startedAt(Simulator& sim, int addressNumber)
    {
        std::string error;
        EXPECT_TRUE(sim.Start(TestAddress(addressNumber), 0, &error)) << error;
        return sim.Port();
    }
};

std::vector<uint8_t> codes(const Frames& frames)
{
    std::vector<uint8_t> out;
    for (const Frame& f : frames) {
        out.push_back(CodeOf(f));
    }
    return out;
}

} // namespace

TEST(SimulatorUpdateAll, BurstCarriesTheWholeDatabaseInListOrderAndEndsWithStatus)
{
    const DeviceDatabase db = generated({5, 23, 31, 9});
    Rig rig(1, db);
    ASSERT_TRUE(rig.client.Send(msg::UpdateAll));
    const Frames burst = rig.client.ReadUntilStatus(msg::UpdateAll, 0);
    ASSERT_FALSE(burst.empty());
    EXPECT_TRUE(IsStatus(burst.back(), msg::UpdateAll, 0));
    EXPECT_EQ(burst.size(), 3u + 5 + 23 + 31 + 9 + 1 + 1);

    // System, volume, version, then each list in turn, the playing program last.
    const std::vector<uint8_t> order = codes(burst);
    const std::vector<uint8_t> head = {msg::SystemInfo, msg::VolumeInfo, msg::VersionInfo};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), order.begin()));
    EXPECT_TRUE(std::is_sorted(order.begin() + 3, order.end() - 2));
    EXPECT_EQ(order[order.size() - 2], msg::PlayingInfo);

    const DeviceDatabase decoded = DecodeBurst(burst);
    EXPECT_EQ(decoded, db);
    EXPECT_TRUE(CheckDatabase(decoded).empty());
    EXPECT_EQ(decoded.satellites.front().prev, kNone);
    EXPECT_EQ(decoded.transponders.back().next, kNone);
}

TEST(SimulatorUpdateAll, MaximalDatabaseFitsTheFramesAndStaysConsistent)
{
    const DeviceDatabase db = generated({255, 255, 255, 255});
    Rig rig(7, db);
    ASSERT_TRUE(rig.client.Send(msg::UpdateAll));
    const Frames burst = rig.client.ReadUntilStatus(msg::UpdateAll, 0, 10s);
    ASSERT_EQ(burst.size(), 3u + 4 * 255 + 1 + 1);
    for (const Frame& f : burst) {
        EXPECT_LE(f.size(), kMaxFrameSize);
    }
    EXPECT_EQ(DecodeBurst(burst), db);
}

TEST(SimulatorUpdateAll, EmptyListsAreReportedWithTheirStatus)
{
    struct Case
    {
        DatabaseSize size;
        std::vector<uint8_t> statuses; // reported before the final 0
    } cases[] = {
        {{0, 0, 0, 0}, {status::kNoSatellites}},    {{2, 0, 0, 0}, {status::kNoTransponders}},
        {{2, 3, 0, 0}, {status::kNoPrograms}},      {{2, 3, 0, 4}, {status::kNoTvPrograms}},
        {{2, 3, 4, 0}, {status::kNoRadioPrograms}}, {{2, 3, 4, 4}, {}},
    };
    int address = 30;
    for (const Case& c : cases) {
        Rig rig(address++, generated(c.size));
        ASSERT_TRUE(rig.client.Send(msg::UpdateAll));
        const Frames burst = rig.client.ReadUntilStatus(msg::UpdateAll, 0);
        std::vector<uint8_t> statuses;
        for (const Frame& f : burst) {
            if (CodeOf(f) == msg::StatusReply) {
                EXPECT_EQ(PayloadOf(f)[0], msg::UpdateAll);
                statuses.push_back(PayloadOf(f)[1]);
            }
        }
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), 0);
        statuses.pop_back();
        EXPECT_EQ(statuses, c.statuses) << c.size.satellites << "," << c.size.transponders << ","
                                        << c.size.tv << "," << c.size.radio;
        // Nothing plays in a database without programs: six bytes, index 0xFF.
        if (c.size.tv + c.size.radio == 0) {
            const Frame& playing = burst[burst.size() - 2];
            ASSERT_EQ(CodeOf(playing), msg::PlayingInfo);
            EXPECT_EQ(PayloadOf(playing).size(), 6u);
            EXPECT_EQ(PayloadOf(playing)[0], kNone);
        }
    }
}

TEST(SimulatorQueries, SingleItemsAnswerWithTheirRecordOrStatus12)
{
    const DeviceDatabase db = generated({3, 6, 5, 4});
    Rig rig(2, db);
    SimClient& c = rig.client;

    // A single satellite ends with StatusReply 0 (it is what releases the query).
    c.Send(msg::QuerySatellite, 2);
    Frames got = c.ReadUntilStatus(msg::QuerySatellite);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(PayloadOf(got[0])[0], 2);
    EXPECT_EQ(DecodeBurst(got).satellites[0], db.satellites[2]);
    EXPECT_TRUE(IsStatus(got[1], msg::QuerySatellite, 0));

    c.Send(msg::QuerySatellite, 9);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(IsStatus(got[0], msg::QuerySatellite, status::kNoMatch));

    // A single transponder or program: the record alone.
    const Transponder& tp = db.transponders[3];
    c.Send(msg::QueryTp, tp.index, tp.satellite);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(DecodeBurst(got).transponders.at(0), tp);

    // The transponder under another satellite is not there: 12, ask the next one.
    c.Send(msg::QueryTp, tp.index, tp.satellite + 1);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(IsStatus(got[0], msg::QueryTp, status::kNoMatch));

    c.Send(msg::QueryProgram, 3, kKindRadio);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(DecodeBurst(got).radio.at(0), db.radio[3]);

    c.Send(msg::QueryProgram, 5, kKindTv);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(IsStatus(got[0], msg::QueryProgram, status::kNoMatch));

    c.Send(msg::QuerySystemInfo);
    c.Send(msg::QueryVersion);
    got = c.ReadCount(2);
    ASSERT_EQ(got.size(), 2u);
    const DeviceDatabase settings = DecodeBurst(got);
    EXPECT_EQ(settings.system, db.system);
    EXPECT_EQ(settings.version, db.version);
}

TEST(SimulatorQueries, AllItemQueriesSendTheListThenStatus0)
{
    const DeviceDatabase db = generated({3, 7, 6, 2});
    Rig rig(3, db);
    SimClient& c = rig.client;

    c.Send(msg::QuerySatellite, kNone);
    Frames got = c.ReadUntilStatus(msg::QuerySatellite);
    EXPECT_TRUE(IsStatus(got.back(), msg::QuerySatellite, 0));
    EXPECT_EQ(DecodeBurst(got).satellites, db.satellites);

    c.Send(msg::QueryProgram, kNone, kKindTv);
    got = c.ReadUntilStatus(msg::QueryProgram);
    EXPECT_TRUE(IsStatus(got.back(), msg::QueryProgram, 0));
    EXPECT_EQ(DecodeBurst(got).tv, db.tv);

    // Transponders by satellite, in chain order; the whole chain satellite by satellite.
    std::vector<Transponder> chain;
    for (const Satellite& s : db.satellites) {
        c.Send(msg::QueryTp, kNone, s.index);
        got = c.ReadUntilStatus(msg::QueryTp);
        ASSERT_FALSE(got.empty());
        EXPECT_TRUE(IsStatus(got.back(), msg::QueryTp, 0));
        for (const Transponder& t : DecodeBurst(got).transponders) {
            EXPECT_EQ(t.satellite, s.index);
            chain.push_back(t);
        }
    }
    EXPECT_EQ(chain, db.transponders);

    // Past the last satellite there is no further transponder.
    c.Send(msg::QueryTp, kNone, 3);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(IsStatus(got[0], msg::QueryTp, status::kNoMatch));
}

TEST(SimulatorQueries, QueriesOnEmptyListsReportTheEmptyList)
{
    struct Case
    {
        DatabaseSize size;
        uint8_t code;
        int a, b;
        uint8_t status;
    } cases[] = {
        {{0, 0, 0, 0}, msg::QuerySatellite, kNone, 0, status::kNoSatellites},
        {{0, 0, 0, 0}, msg::QueryTp, kNone, 0, status::kNoSatellites},
        {{2, 0, 0, 0}, msg::QueryTp, kNone, 0, status::kNoTransponders},
        {{2, 0, 0, 0}, msg::QueryTp, 1, 0, status::kNoTransponders},
        {{2, 2, 0, 0}, msg::QueryProgram, kNone, kKindTv, status::kNoPrograms},
        {{2, 2, 0, 3}, msg::QueryProgram, kNone, kKindTv, status::kNoTvPrograms},
        {{2, 2, 0, 3}, msg::QueryProgram, 0, kKindTv, status::kNoTvPrograms},
        {{2, 2, 3, 0}, msg::QueryProgram, kNone, kKindRadio, status::kNoRadioPrograms},
    };
    Rig rig(4, DeviceDatabase{});
    for (const Case& c : cases) {
        rig.sim.SetDatabase(generated(c.size));
        rig.client.Send(c.code, c.a, c.b);
        const Frames got = rig.client.ReadCount(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(IsStatus(got[0], c.code, c.status))
            << "code " << int(c.code) << " status " << int(PayloadOf(got[0])[1]);
    }
}

TEST(SimulatorCommands, PlayProgramAndSignalFollowThePlayingProgram)
{
    SimulatorOptions options = quiet();
    options.signal = {50, 60};
    Rig rig(5, generated({1, 2, 3, 3}), options);
    SimClient& c = rig.client;

    c.Send(msg::PlayProgram, kNone, 0); // which program plays?
    Frames got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(DecodeBurst(got).playing, (Playing{0, kKindTv}));

    c.Send(msg::PlayProgram, 2, kKindRadio);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(CodeOf(got[0]), msg::PlayingInfo);
    EXPECT_EQ(DecodeBurst(got).playing, (Playing{2, kKindRadio}));
    EXPECT_EQ(rig.sim.Database().playing, (Playing{2, kKindRadio}));

    c.Send(msg::PlayProgram, 7, kKindTv);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(IsStatus(got[0], msg::PlayProgram, status::kNoMatch));

    c.Send(msg::QuerySignal);
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(CodeOf(got[0]), msg::SignalStatus);
    EXPECT_EQ(PayloadOf(got[0])[0], 0x80 | 50); // locked, intensity
    EXPECT_EQ(PayloadOf(got[0])[1], 0x80 | 60); // plays, quality

    // Deleting the playing program stops it: the signal reports nothing playing.
    const auto record = EncodeProgram(rig.sim.Database().radio[2], kKindRadio);
    c.Send(msg::DeleteProgram, 0, 0, record);
    c.Send(msg::QuerySignal);
    got = c.ReadCount(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(IsStatus(got[0], msg::DeleteProgram, 0));
    EXPECT_EQ(PayloadOf(got[1])[0] & 0x80, 0);
    EXPECT_EQ(rig.sim.Database().playing.index, kNone);
}

TEST(SimulatorCommands, ChangesAreAnsweredWithTheNewRecordAndKeepTheListsLinked)
{
    Rig rig(6, generated({2, 4, 6, 2}));
    SimClient& c = rig.client;

    // Volume: up, mute, down, sound on.
    for (int command : {0x0A, 0xF0, 0x05, 0x7F}) {
        c.Send(msg::SetVolume, command);
    }
    Frames got = c.ReadCount(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(PayloadOf(got[0])[0], 9);
    EXPECT_EQ(PayloadOf(got[1])[0], 0x89);
    EXPECT_EQ(PayloadOf(got[2])[0], 0x88);
    EXPECT_EQ(PayloadOf(got[3])[0], 8);

    // A new satellite takes the lowest free index and goes to the end of the chain.
    Satellite added;
    added.flags = 0x04;
    added.loHigh = 10600;
    added.loLow = 9750;
    added.name = "UnNamed";
    c.Send(msg::AddSatellite, 0, 0, EncodeSatellite(added));
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    const Satellite reported = DecodeBurst(got).satellites.at(0);
    EXPECT_EQ(reported.index, 2);
    EXPECT_EQ(reported.prev, 1);
    EXPECT_EQ(reported.name, "UnNamed");

    // A transponder for satellite 0 lands after satellite 0's last one.
    Transponder tp;
    tp.satellite = 0;
    tp.frequency = 11000;
    tp.symbolRate = 27500;
    c.Send(msg::AddTp, 0, 0, EncodeTransponder(tp));
    got = c.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    const Transponder newTp = DecodeBurst(got).transponders.at(0);
    EXPECT_EQ(newTp.index, 4);
    EXPECT_EQ(newTp.prev, 1);
    EXPECT_EQ(newTp.next, 2);

    // Deleting transponder 0 takes its programs; the rest are renumbered.
    DeviceDatabase before = rig.sim.Database();
    const size_t onTp0 = std::count_if(before.tv.begin(), before.tv.end(),
                                       [](const Program& p) { return p.tp == 0; });
    ASSERT_GT(onTp0, 0u);
    c.Send(msg::DeleteTp, 0, 0, EncodeTransponder(before.transponders[0]));
    c.Send(msg::DeleteTp, 0, 0, EncodeTransponder(before.transponders[0]));
    got = c.ReadCount(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(IsStatus(got[0], msg::DeleteTp, 0));
    EXPECT_TRUE(IsStatus(got[1], msg::DeleteTp, status::kNoMatch));
    DeviceDatabase after = rig.sim.Database();
    EXPECT_EQ(after.tv.size(), before.tv.size() - onTp0);
    EXPECT_TRUE(CheckDatabase(after).empty());

    // Audio choice and descrambling module come back in the program record.
    auto record = EncodeProgram(after.tv[1], kKindTv);
    c.Send(msg::SelectAudio, 250, 0, record);
    c.Send(msg::MultiDescramble, 2, 0, record);
    got = c.ReadCount(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(CodeOf(got[0]), msg::AudioInfo);
    EXPECT_EQ(PayloadOf(got[0])[18], (after.tv[1].audioChoice & 0x0F) | 0xF0);
    EXPECT_EQ(CodeOf(got[1]), msg::ProgramInfo);
    EXPECT_EQ(PayloadOf(got[1])[11], 2);

    // Commands without data to report answer with StatusReply 0; an upgrade
    // is accepted with 175 (and the link then carries the upgrade).
    for (uint8_t code : {msg::StopScan, msg::Reboot, msg::StartUpgrade}) {
        c.Send(code);
        got = c.ReadCount(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(IsStatus(got[0], code, code == msg::StartUpgrade ? 175 : 0));
    }
}

TEST(SimulatorCommands, SystemSettingsTakeTheAddressOnlyWhenAsked)
{
    const DeviceDatabase db = generated({1, 1, 1, 0});
    Rig rig(8, db);
    std::array<uint8_t, 20> record = db.system;
    record[1] = 0x05; // TS output "Original", 204-byte packets
    record[4] = 10;   // another address, without byte 18: not taken
    rig.client.Send(msg::SetSystemInfo, 0, 0, record);
    Frames got = rig.client.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(CodeOf(got[0]), msg::SystemInfo);
    auto reported = PayloadOf(got[0]);
    EXPECT_EQ(reported[1], 0x05);
    EXPECT_EQ(reported[4], db.system[4]);
    EXPECT_EQ(reported[18], 0);
    EXPECT_EQ(rig.sim.Database().system[1], 0x05);

    record[18] = 1; // now to be taken: reported once, then stored without the flag
    rig.client.Send(msg::SetSystemInfo, 0, 0, record);
    got = rig.client.ReadCount(1);
    ASSERT_EQ(got.size(), 1u);
    reported = PayloadOf(got[0]);
    EXPECT_EQ(reported[4], 10);
    EXPECT_EQ(reported[18], 1);
    EXPECT_EQ(rig.sim.Database().system[4], 10);
    EXPECT_EQ(rig.sim.Database().system[18], 0);
}

TEST(SimulatorRequests, MalformedOrUnknownRequestsGetStatus7)
{
    Rig rig(9, generated({1, 1, 1, 1}));
    // A code the manager never sends, and a QueryTp with a short payload.
    Frame unknown(6);
    FinishFrame(unknown.data(), 0x7E, 2);
    Frame shortTp(8);
    FinishFrame(shortTp.data(), msg::QueryTp, 4);
    rig.client.SendRaw(unknown);
    rig.client.SendRaw(shortTp);
    const Frames got = rig.client.ReadCount(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(IsStatus(got[0], 0x7E, status::kOutOfManage));
    EXPECT_TRUE(IsStatus(got[1], msg::QueryTp, status::kOutOfManage));
    EXPECT_EQ(rig.sim.Stats().malformed, 2u); // a manager never sends either
}

TEST(SimulatorRequests, CutBatchedAndNoisyRequestsAreAllAnswered)
{
    Rig rig(22, generated({1, 1, 1, 1}));
    const Frame signal = {0x88, 0x61, 0x02, 0x59, 0x18, 0x99};
    const Frame version = {0x88, 0x13, 0x02, 0x00, 0x00, 0x99};
    Frame versionFrame(6);
    FinishFrame(versionFrame.data(), msg::QueryVersion, 2);
    ASSERT_NE(versionFrame, version);

    rig.client.SendRaw(Frame(signal.begin(), signal.begin() + 4));
    Frame rest(signal.begin() + 4, signal.end());
    rest.insert(rest.end(), {0x00, 0x88, 0x99, 0xF0});       // noise, a lone start byte
    rest.insert(rest.end(), version.begin(), version.end()); // bad CRC: skipped
    rest.insert(rest.end(), versionFrame.begin(), versionFrame.end());
    rest.insert(rest.end(), signal.begin(), signal.end());
    rig.client.SendRaw(rest);

    const Frames got = rig.client.ReadCount(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(CodeOf(got[0]), msg::SignalStatus);
    EXPECT_EQ(CodeOf(got[1]), msg::VersionInfo);
    EXPECT_EQ(CodeOf(got[2]), msg::SignalStatus);
    EXPECT_EQ(rig.sim.ReceivedFrames().size(), 3u);
    EXPECT_GT(rig.sim.Stats().malformed, 0u); // the noise and the bad CRC
}
