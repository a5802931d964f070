// tests/tools/LoadLedgerTest.cpp: the load benchmark's matching of acknowledged records with the
// messages the server received: what it calls lost, twice, late or unexpected.
#include "bench/LoadLedger.h"

#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"
#include "tests/fakes/TempDir.h"

using namespace loadbench;

namespace {

// A stamped message line for the worked tracker's record at this time text.
std::string arrival(std::int64_t atUs, const std::string& time,
                    const std::string& imei = fakes::kWorkedImei)
{
    return std::to_string(atUs) + R"( {"$c$":"gps","type":"gt20v5","imei":")" + imei +
           R"(","lat":51.201128,"lon":51.371756,"time":")" + time + R"(","alt":39})";
}

} // namespace

TEST(LoadLedgerTest, LinesOfBothSidesNameTheSameRecord)
{
    std::optional<Stamped> acked = parseAckedLine(fakes::kWorkedImei + " 1493805094 5000000");
    ASSERT_TRUE(acked.has_value());
    EXPECT_EQ(fakes::kWorkedImei + " 03.05.2017 9:51:34", acked->record);
    EXPECT_EQ(5000000, acked->atUs);

    std::optional<Stamped> arrived = parseMessageLine("5000250 " + fakes::kWorkedJson);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_EQ(acked->record, arrived->record);
    EXPECT_EQ(5000250, arrived->atUs);

    // Half-written, unstamped or foreign lines name nothing.
    for (const char* bad :
         {"", "356307042441013", "356307042441013 1493805094", "356307042441013 1493805094 ",
          "356307042441013 14938x5094 1", " 1493805094 1"})
        EXPECT_FALSE(parseAckedLine(bad).has_value()) << bad;
    EXPECT_FALSE(parseMessageLine(fakes::kWorkedJson).has_value());
    EXPECT_FALSE(parseMessageLine(R"(12 {"imei":"356307042441013"})").has_value());
    EXPECT_FALSE(
        parseMessageLine(R"(12 {"imei":"356307042441013","time":"03.05.2017)").has_value());
}

TEST(LoadLedgerTest, CountsLostTwiceAndUnexpectedRecordsAndTheLatencies)
{
    Ledger ledger;
    EXPECT_TRUE(ledger.allDelivered()); // nothing acknowledged yet
    for (int i = 0; i < 4; ++i)
        ledger.acked({"imei " + std::to_string(i), 1000 * i});
    ledger.acked({"imei 0", 999999}); // acknowledged again: still one record, first time kept
    EXPECT_EQ(4u, ledger.waiting());

    ledger.arrived({"imei 0", 2000});  // 2 ms after its acknowledgement
    ledger.arrived({"imei 1", 1500});  // 0.5 ms
    ledger.arrived({"imei 1", 90000}); // again
    ledger.arrived({"imei 2", 1000});  // before its acknowledgement was read: 0
    ledger.arrived({"stray", 7000});   // never acknowledged
    EXPECT_FALSE(ledger.allDelivered());
    EXPECT_EQ(1u, ledger.waiting());

    Tally t = ledger.tally();
    // acked, delivered, undelivered, duplicates, unacked
    EXPECT_EQ((std::vector<std::size_t>{4, 3, 1, 1, 1}),
              (std::vector<std::size_t>{t.acked, t.delivered, t.undelivered, t.duplicates,
                                        t.unacked}));
    EXPECT_DOUBLE_EQ(0.5, t.latencyP50Ms);
    EXPECT_DOUBLE_EQ(2.0, t.latencyP99Ms);
    EXPECT_EQ(0, t.firstAckUs.value_or(-1));
    EXPECT_EQ(3000, t.lastAckUs.value_or(-1));
    EXPECT_EQ(1000, t.firstArrivalUs.value_or(-1));
    EXPECT_EQ(2000, t.lastArrivalUs.value_or(-1)); // first arrivals of acknowledged records

    // A record that arrives before its acknowledgement is logged is not waited for.
    ledger.arrived({"imei 4", 8000});
    ledger.acked({"imei 4", 8100});
    ledger.arrived({"imei 3", 9000});
    EXPECT_TRUE(ledger.allDelivered());
    EXPECT_EQ(0u, ledger.tally().undelivered);
}

TEST(LoadLedgerTest, FollowerGivesWholeLinesOnceEach)
{
    fakes::TempDir dir;
    LineFollower follower(dir.file("growing.txt"));
    EXPECT_TRUE(follower.newLines().empty()); // not there yet
    std::ofstream out(dir.file("growing.txt"), std::ios::binary);
    out << arrival(1, "03.05.2017 9:51:34") << "\n12 half" << std::flush;
    EXPECT_EQ(std::vector<std::string>{arrival(1, "03.05.2017 9:51:34")}, follower.newLines());
    EXPECT_TRUE(follower.newLines().empty());
    out << " a line\n\n3 next\n" << std::flush;
    EXPECT_EQ((std::vector<std::string>{"12 half a line", "", "3 next"}), follower.newLines());
}
