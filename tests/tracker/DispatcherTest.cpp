// tests/tracker/DispatcherTest.cpp: identification, data and disconnects as the dispatcher
// takes them from the queue; the position message text.
#include "tracker/Dispatcher.h"

#include <clocale>
#include <locale>

#include <gtest/gtest.h>

#include "tests/fakes/FakeClock.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/RecordingSink.h"
#include "tests/fakes/TempDir.h"
#include "tracker/PositionMessage.h"

using fakes::Bytes;
using fakes::fromHex;
using namespace tracker;

namespace {

const std::string& kImei = fakes::kWorkedImei;
const std::string& kWorkedJson = fakes::kWorkedJson;
const std::string kPrefix = R"({"$c$":"gps","type":"gt20v5","imei":"356307042441013")";

// A data packet of records built from raw record bytes.
Bytes dataPacket(unsigned records, const Bytes& recordBytes)
{
    Bytes body{static_cast<std::uint8_t>(records)};
    body.insert(body.end(), recordBytes.begin(), recordBytes.end());
    return fakes::makePacket(2, body);
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes u32(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

class DispatcherTest : public ::testing::Test
{
protected:
    void put(const Bytes& packet, std::uint32_t connection, const std::string& imei = "")
    {
        Bytes record(16, 0);
        if (!imei.empty()) {
            record[0] = 15;
            std::copy(imei.begin(), imei.end(), record.begin() + 1);
        }
        record.insert(record.end(), packet.begin(), packet.end());
        ASSERT_TRUE(m_queue.pushPacket(record.data(), record.size(), connection));
    }

    void disconnect(std::uint32_t connection)
    {
        auto n = makeDisconnectNotice(connection);
        ASSERT_TRUE(m_queue.pushNotice(n.data(), n.size()));
    }

    const TrackerRow& row(std::size_t i) { return m_dispatcher.table().rows().at(i); }

    fakes::TempDir m_dir;
    fakes::FakeClock m_clock;
    platform::DayLog m_dayLog{m_dir.path(), &fakes::workedTime};
    HandoverQueue m_queue;
    fakes::RecordingSink m_sink;
    Dispatcher m_dispatcher{m_queue, m_dayLog, m_sink, m_clock};
};

} // namespace

TEST_F(DispatcherTest, WorkedExampleGivesTheWorkedJsonAndHexLines)
{
    Bytes id = fakes::makeIdentification(kImei);
    put(id, 1, kImei);
    put(fakes::workedDataPacket(), 1, kImei);
    EXPECT_TRUE(m_dispatcher.tick());
    EXPECT_EQ(std::vector<std::string>{kWorkedJson}, m_sink.messages);
    EXPECT_EQ("9:51:34 " + fakes::toHex(id) + "\r\n9:51:34 " +
                  "15440168440D03ECDE0F0326A809592700C202080E0C003400\r\n",
              m_dir.read("03.05.2017.log"));
    ASSERT_EQ(1u, m_dispatcher.table().size());
    EXPECT_EQ(kImei, row(0).imeiText());
    EXPECT_EQ(25, row(0).version);
    EXPECT_EQ(1, row(0).dataCount);
    EXPECT_TRUE(row(0).linked);
}

TEST_F(DispatcherTest, PointIsTheDecimalMarkUnderACommaLocale)
{
    struct CommaDecimal : std::numpunct<char>
    {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return ' '; }
        std::string do_grouping() const override { return "\3"; }
    };
    std::locale savedCpp =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    std::string savedC = std::setlocale(LC_ALL, nullptr);
    // Where the system has a comma locale, the C library uses it too.
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "ru_RU.utf8", "de_DE.utf8"})
        if (std::setlocale(LC_ALL, name))
            break;
    put(fakes::makeIdentification(kImei), 1, kImei);
    put(fakes::workedDataPacket(), 1, kImei);
    m_dispatcher.tick();
    std::setlocale(LC_ALL, savedC.c_str());
    std::locale::global(savedCpp);
    EXPECT_EQ(std::vector<std::string>{kWorkedJson}, m_sink.messages);
}

TEST_F(DispatcherTest, NumberAndTimeEdgesOfTheMessage)
{
    put(fakes::makeIdentification(kImei, 1, {16, 17}), 1, kImei);
    // Records: (5, 4294967295, time 0), (0, 0, three days), then 60 s runs past the packet.
    const Bytes records =
        cat({u32(5), u32(4294967295u), u32(0), u32(0), u32(0), u32(86400 * 3), u32(60)});
    put(dataPacket(3, records), 1, kImei);
    m_dispatcher.tick();
    EXPECT_EQ((std::vector<std::string>{
                  kPrefix + R"(,"lat":0.000005,"lon":4294.967295,"time":"01.01.1970"})",
                  kPrefix + R"(,"lat":0.000000,"lon":0.000000,"time":"04.01.1970"})"}),
              m_sink.messages);
    EXPECT_EQ(3, row(0).dataCount);
}

TEST_F(DispatcherTest, ThreeRecordsInOrderAndSkippedFieldsMoveTheOffset)
{
    put(fakes::makeIdentification(kImei, 1, {18, 22, 23, 24, 25, 20}), 1, kImei);
    Bytes records;
    for (std::uint8_t i = 1; i <= 3; ++i) {
        Bytes rec(17, 9); // alt (2), four skipped fields (14), hdop (1)
        rec[0] = i;
        rec[1] = 0;
        rec[16] = static_cast<std::uint8_t>(i * 10);
        records.insert(records.end(), rec.begin(), rec.end());
    }
    put(dataPacket(3, records), 1, kImei);
    m_dispatcher.tick();
    EXPECT_EQ((std::vector<std::string>{kPrefix + R"(,"alt":1,"hdop":10})",
                                        kPrefix + R"(,"alt":2,"hdop":20})",
                                        kPrefix + R"(,"alt":3,"hdop":30})"}),
              m_sink.messages);
    EXPECT_EQ(3, row(0).dataCount);
    EXPECT_EQ(3u, m_dispatcher.positionsDispatched()); // records, not packets (2)
}

TEST_F(DispatcherTest, UnknownIdInThirdPlaceSendsNothingButCountsRecords)
{
    put(fakes::makeIdentification(kImei, 1, {18, 19, 15, 26}), 1, kImei);
    put(dataPacket(2, Bytes(16, 1)), 1, kImei);
    put(dataPacket(4, Bytes(32, 1)), 1, kImei);
    m_dispatcher.tick();
    EXPECT_TRUE(m_sink.messages.empty());
    EXPECT_EQ(6, row(0).dataCount);
    EXPECT_EQ(0u, m_dispatcher.positionsDispatched());
}

TEST_F(DispatcherTest, EmptyFieldListGivesTheFixedMembersPerRecord)
{
    put(fakes::makeIdentification(kImei, 1, {}), 1, kImei);
    put(dataPacket(2, {}), 1, kImei);
    m_dispatcher.tick();
    EXPECT_EQ((std::vector<std::string>{kPrefix + "}", kPrefix + "}"}), m_sink.messages);
}

TEST_F(DispatcherTest, DataBeforeIdentificationOrWithZeroRecordsGivesOnlyTheHexLine)
{
    put(fakes::workedDataPacket(), 1);                    // empty IMEI field
    put(fakes::workedDataPacket(), 1, "999999999999999"); // no row of this IMEI
    put(fakes::makeIdentification(kImei), 1, kImei);
    put(dataPacket(0, Bytes(21, 0)), 1, kImei);
    put(fakes::makePacket(5, {1, 2, 3}), 1, kImei);
    m_dispatcher.tick();
    EXPECT_TRUE(m_sink.messages.empty());
    EXPECT_EQ(0, row(0).dataCount);
    std::string log = m_dir.read("03.05.2017.log");
    EXPECT_EQ(5, std::count(log.begin(), log.end(), '\n'));
}

TEST_F(DispatcherTest, SecondIdentificationReplacesVersionAndFieldsWithoutANewRow)
{
    put(fakes::makeIdentification(kImei, 7, {18}), 1, kImei);
    put(dataPacket(1, {0x10, 0}), 1, kImei);
    put(fakes::makeIdentification(kImei, 9, {19, 20}), 2, kImei);
    put(dataPacket(1, {0x10, 0, 3}), 2, kImei);
    m_dispatcher.tick();
    ASSERT_EQ(1u, m_dispatcher.table().size());
    EXPECT_EQ(9, row(0).version);
    EXPECT_EQ(2u, row(0).connection);
    EXPECT_EQ(2, row(0).dataCount);
    EXPECT_EQ((std::vector<std::string>{kPrefix + R"(,"alt":16})",
                                        kPrefix + R"(,"course":16,"hdop":3})"}),
              m_sink.messages);
}

TEST_F(DispatcherTest, RowIsLastSeenAtTheTickThatTookItsLatestPacket)
{
    put(fakes::makeIdentification(kImei, 7, {18}), 1, kImei);
    m_dispatcher.tick();
    const std::uint64_t identified = m_clock.read();
    EXPECT_EQ(identified, row(0).lastSeen);
    m_clock.advanceMs(5000);
    put(dataPacket(1, {0x10, 0}), 1, kImei);
    m_dispatcher.tick();
    EXPECT_EQ(identified + 5000 * fakes::FakeClock::kTicksPerMs, row(0).lastSeen);
}

TEST_F(DispatcherTest, DisconnectClearsTheLinkOnlyOfItsOwnConnection)
{
    put(fakes::makeIdentification(kImei), 1, kImei);
    m_dispatcher.tick();
    put(fakes::makeIdentification(kImei), 2, kImei); // reconnected before the old one ended
    m_dispatcher.tick();
    disconnect(1);
    EXPECT_FALSE(m_dispatcher.tick());
    EXPECT_TRUE(row(0).linked);
    disconnect(2);
    EXPECT_TRUE(m_dispatcher.tick());
    EXPECT_FALSE(row(0).linked);
    EXPECT_FALSE(m_dispatcher.tick());
}

TEST_F(DispatcherTest, DisconnectWaitsForRecordsQueuedBeforeIt)
{
    Dispatcher d(m_queue, m_dayLog, m_sink, m_clock, {.maxRecords = 2});
    put(fakes::makePacket(0, {}), 1);
    put(fakes::makePacket(0, {}), 1);
    put(fakes::makeIdentification(kImei), 1, kImei);
    disconnect(1);
    d.tick(); // two records: the identification and the notice must wait
    EXPECT_EQ(0u, d.table().size());
    d.tick();
    ASSERT_EQ(1u, d.table().size());
    EXPECT_FALSE(d.table().rows()[0].linked);
}

TEST_F(DispatcherTest, TickTakesRecordsUpToItsBudgetInOrder)
{
    put(fakes::makeIdentification(kImei, 1, {18}), 1, kImei);
    for (std::uint16_t i = 0; i < 2500; ++i)
        put(dataPacket(1, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)}), 1,
            kImei);
    m_dispatcher.tick();
    EXPECT_EQ(1999u, m_sink.messages.size());
    m_dispatcher.tick();
    ASSERT_EQ(2500u, m_sink.messages.size());
    for (std::size_t i = 0; i < 2500; ++i)
        ASSERT_EQ(kPrefix + ",\"alt\":" + std::to_string(i) + "}", m_sink.messages[i]);
}

// Nothing is read beyond the packet, and a field list cut short by the checksum does not shift
// the fields of every later record to the wrong widths: the ids it announces but does not hold
// are unknown ids, and decoding stops where a record reaches one.
TEST_F(DispatcherTest, ShortIdentificationPacketsDecodeNoInventedPositions)
{
    // Identification without room for the IMEI: no row.
    put(fakes::makePacket(1, Bytes(10, '1')), 1);
    // IMEI and version, but the count byte stands in the checksum: one unknown field.
    Bytes noCount = fakes::makeIdentification(kImei, 4, {});
    noCount.resize(26);
    put(fakes::makePacket(1, Bytes(noCount.begin() + 2, noCount.end())), 1, kImei);
    put(dataPacket(1, {7, 0}), 1, kImei);
    m_dispatcher.tick();
    ASSERT_EQ(1u, m_dispatcher.table().size());
    EXPECT_EQ(4, row(0).version);
    EXPECT_TRUE(m_sink.messages.empty());

    // A count of 7 with only 3 ids (position, time, altitude) before the checksum.
    Bytes body(26, 0);
    std::copy(kImei.begin(), kImei.end(), body.begin() + 3);
    body[25] = 7;
    for (std::uint8_t id : {16, 17, 18})
        body.push_back(id);
    put(fakes::makePacket(1, body), 1, kImei);
    const Bytes record = cat({u32(51201128), u32(51371756), u32(1493805094), Bytes{39, 0},
                              Bytes{0xC2, 0x02, 0x08, 0x0E, 0x0C, 0x00}});
    put(dataPacket(2, cat({record, record})), 1, kImei);
    m_dispatcher.tick();
    EXPECT_EQ(7, row(0).fieldCount);
    EXPECT_TRUE(m_sink.messages.empty());
    EXPECT_EQ(3, row(0).dataCount);

    // Ids that are all there decode as ever; a record cut short by the checksum is not sent.
    put(fakes::makeIdentification(kImei, 4, {18, 20, 21}), 1, kImei);
    put(dataPacket(2, {7, 0, 1, 2, 8, 0}), 1, kImei); // second record is one byte short
    m_dispatcher.tick();
    EXPECT_EQ(std::vector<std::string>{kPrefix + R"(,"alt":7,"hdop":1,"sat":2})"}, m_sink.messages);
}

TEST(PositionMessageTest, ImeiCharactersAreEscapedTheJsonWay)
{
    TrackerRow row;
    std::string imei = "12\"4\\6\n89012345";
    row.imei[0] = 15;
    std::copy_n(imei.begin(), 15, row.imei.begin() + 1);
    Bytes packet = fakes::makePacket(2, {1});
    std::string out;
    ASSERT_NE(0u, buildPositionMessage(row, packet.data(), 3, 3, out));
    EXPECT_EQ(R"({"$c$":"gps","type":"gt20v5","imei":"12\"4\\6\u000a89012345"})", out);
}

TEST_F(DispatcherTest, TickGivesTheThreadBackOnceItsTimeIsSpent)
{
    // Each message costs 3 ms of the clock: a 5 ms tick takes two records, then stops.
    struct SlowSink final : PositionSink
    {
        explicit SlowSink(fakes::FakeClock& c) : clock(c) {}
        bool storeMessage(const std::string&) override
        {
            clock.advanceMs(3);
            ++sent;
            return true;
        }
        fakes::FakeClock& clock;
        int sent = 0;
    } slow(m_clock);
    Dispatcher d(m_queue, m_dayLog, slow, m_clock);
    put(fakes::makeIdentification(kImei, 1, {18}), 1, kImei);
    for (int i = 0; i < 5; ++i)
        put(dataPacket(1, {static_cast<std::uint8_t>(i), 0}), 1, kImei);
    for (int sent : {2, 4, 5}) {
        d.tick();
        EXPECT_EQ(sent, slow.sent);
    }
}

// A sink that cannot keep a message (the backlog cannot be written): the message and the rest
// of its packet are held, nothing more is taken from the queue, and they are offered again
// after the retry time, once each: no message lost, none twice, counts and hex lines once.
TEST_F(DispatcherTest, MessagesTheSinkCannotKeepAreHeldAndNothingMoreIsTaken)
{
    put(fakes::makeIdentification(kImei, 1, {16}), 1, kImei);
    put(dataPacket(2, cat({u32(1), u32(2), u32(3), u32(4)})), 1, kImei);
    put(dataPacket(1, cat({u32(5), u32(6)})), 1, kImei);
    m_sink.refusing = true;
    m_dispatcher.tick();
    EXPECT_EQ(1, m_sink.refused);
    EXPECT_EQ(2u, m_dispatcher.heldMessages());
    EXPECT_EQ(1u, m_dispatcher.keptRecords()); // the identification packet
    EXPECT_EQ(0u, m_dispatcher.positionsDispatched());
    Bytes waiting;
    std::uint32_t connection = 0;
    EXPECT_TRUE(m_queue.peekPacket(&waiting, &connection)); // the third packet stays queued

    m_sink.refusing = false;
    m_dispatcher.tick(); // too soon: nothing is offered
    EXPECT_TRUE(m_sink.messages.empty());
    m_clock.advanceMs(1001);
    m_dispatcher.tick();
    ASSERT_EQ(3u, m_sink.messages.size());
    EXPECT_NE(std::string::npos, m_sink.messages[0].find(R"("lat":0.000001,"lon":0.000002)"));
    EXPECT_NE(std::string::npos, m_sink.messages[2].find(R"("lat":0.000005,"lon":0.000006)"));
    EXPECT_EQ(3u, m_dispatcher.keptRecords());
    EXPECT_EQ(3u, m_dispatcher.positionsDispatched());
    EXPECT_EQ(3, row(0).dataCount);
    std::string log = m_dir.read("03.05.2017.log");
    EXPECT_EQ(3, std::count(log.begin(), log.end(), '\n'));

    // The orderly stop does not wait for a sink that keeps nothing.
    put(dataPacket(1, cat({u32(7), u32(8)})), 1, kImei);
    m_sink.refusing = true;
    m_dispatcher.drain();
    EXPECT_EQ(1u, m_dispatcher.heldMessages());
}
