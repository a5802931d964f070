// tests/tracker/PacketIntakeTest.cpp: a worker's step for each whole packet, without a thread
// or socket: the IMEI it keeps, the record it queues, the acknowledgement it allows.
#include "tracker/PacketIntake.h"

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"

using namespace tracker;
using fakes::fromHex;

namespace {

const std::string kImeiA = "356307042441013";
const std::string kImeiB = "861230043907634";

class PacketIntakeTest : public ::testing::Test
{
protected:
    Taken take(PacketIntake& intake, const Bytes& packet)
    {
        return intake.take(packet.data(), packet.size());
    }

    // The IMEI field of every record queued so far, in order; the queue is emptied.
    std::vector<ImeiField> takeImeiFields()
    {
        std::vector<ImeiField> out;
        Bytes r;
        std::uint32_t connection = 0;
        while (m_queue.peekPacket(&r, &connection)) {
            m_queue.popPacket();
            ImeiField f;
            std::copy_n(r.begin(), kImeiFieldSize, f.begin());
            out.push_back(f);
        }
        return out;
    }

    void fillQueue()
    {
        Bytes filler(20, 0);
        while (m_queue.pushPacket(filler.data(), filler.size(), 0) != 0) {
        }
    }

    HandoverQueue m_queue;
    PacketIntake m_intake{m_queue};
};

} // namespace

TEST_F(PacketIntakeTest, QueuesTheRecordThenAcknowledgesWithTheReceivedChecksumBytes)
{
    m_intake.begin(7); // acknowledging without waiting for the record to be kept
    Bytes p = fromHex("04 04 00 01 19 07 EB CD");
    ASSERT_EQ(Taken::Acknowledge, take(m_intake, p));
    EXPECT_EQ((Acknowledgement{0x01, 0xEB, 0xCD}), m_intake.acknowledgement());
    Bytes record;
    std::uint32_t connection = 0;
    ASSERT_TRUE(m_queue.peekPacket(&record, &connection));
    EXPECT_EQ(7u, connection);
    EXPECT_EQ(kImeiFieldSize + p.size(), record.size());
    EXPECT_EQ(0, record[0]);
    EXPECT_TRUE(std::equal(p.begin(), p.end(), record.begin() + kImeiFieldSize));
}

// The IMEI was taken before the queue had the identification packet: when the queue was full,
// later data packets were acknowledged under a tracker the dispatcher never saw, and lost.
TEST_F(PacketIntakeTest, IdentificationRefusedByAFullQueueLeavesTheImeiUnchanged)
{
    m_intake.begin(1);
    fillQueue();
    EXPECT_EQ(Taken::QueueFull, take(m_intake, fakes::makeIdentification(kImeiA)));
    EXPECT_FALSE(m_intake.identified());
    m_queue.popPacket();
    EXPECT_EQ(Taken::Unidentified, take(m_intake, fakes::workedDataPacket()));

    m_queue.popPacket();
    ASSERT_EQ(Taken::Acknowledge, take(m_intake, fakes::makeIdentification(kImeiA)));
    EXPECT_EQ(fakes::imeiFieldOf(kImeiA), m_intake.imei());

    fillQueue();
    EXPECT_EQ(Taken::QueueFull, take(m_intake, fakes::makeIdentification(kImeiB)));
    takeImeiFields();
    ASSERT_EQ(Taken::Acknowledge, take(m_intake, fakes::workedDataPacket()));
    auto fields = takeImeiFields();
    ASSERT_EQ(1u, fields.size());
    EXPECT_EQ(fakes::imeiFieldOf(kImeiA), fields[0]);
}

// Each row is a new connection of the same intake, so each starts with no IMEI although the row
// before left one. The records of a data packet before identification name no tracker and are
// never delivered; it was acknowledged all the same. Packets without records still are.
TEST_F(PacketIntakeTest, RecordsCarryTheImeiOfTheLatestIdentificationOfTheirConnection)
{
    struct Step
    {
        Bytes packet;
        Taken taken;
        std::string imei; // in its record; empty: none
    };
    struct Row
    {
        const char* name;
        std::vector<Step> steps;
    };
    const Bytes idA = fakes::makeIdentification(kImeiA), idB = fakes::makeIdentification(kImeiB);
    const Bytes data = fakes::workedDataPacket();
    const Taken ack = Taken::Acknowledge, unidentified = Taken::Unidentified;
    const Row rows[] = {
        {"each identification names itself and what follows",
         {{idA, ack, kImeiA}, {data, ack, kImeiA}, {idB, ack, kImeiB}, {data, ack, kImeiB}}},
        {"one too short for an IMEI leaves the field as it was",
         {{fakes::makePacket(1, Bytes(3, '7')), ack, ""},
          {idA, ack, kImeiA},
          {fakes::makePacket(1, Bytes(15, '9')), ack, kImeiA}}},
        {"data with records before identification is queued, not acknowledged",
         {{data, unidentified, ""},
          {fakes::makePacket(2, {0x00}), ack, ""},
          {fakes::makePacket(2, {}), ack, ""},
          {fakes::makePacket(0, {0x05}), ack, ""},
          {fakes::makePacket(1, Bytes(10, '1')), ack, ""},
          {data, unidentified, ""},
          {idA, ack, kImeiA},
          {data, ack, kImeiA}}},
    };
    std::uint32_t connection = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_intake.begin(++connection);
        EXPECT_FALSE(m_intake.identified());
        for (const Step& step : row.steps) {
            EXPECT_EQ(step.taken, take(m_intake, step.packet));
            Bytes record;
            std::uint32_t from = 0;
            ASSERT_TRUE(m_queue.peekPacket(&record, &from));
            m_queue.popPacket();
            EXPECT_EQ(connection, from);
            ImeiField imei{};
            std::copy_n(record.begin(), kImeiFieldSize, imei.begin());
            EXPECT_EQ(step.imei.empty() ? ImeiField{} : fakes::imeiFieldOf(step.imei), imei);
            EXPECT_EQ(step.packet, Bytes(record.begin() + kImeiFieldSize, record.end()));
        }
    }
}

TEST_F(PacketIntakeTest, AcknowledgingOnlyKeptRecordsNeedsTheirSequenceKept)
{
    PacketIntake intake(m_queue, true, std::chrono::milliseconds(0));
    intake.begin(1);
    Bytes id = fakes::makeIdentification(kImeiA), data = fakes::workedDataPacket();
    EXPECT_EQ(Taken::NotKept, take(intake, id)); // record 1
    EXPECT_TRUE(intake.identified());            // in the queue, so the IMEI holds
    m_queue.markKept(1);
    EXPECT_EQ(Taken::NotKept, take(intake, data)); // record 2
    m_queue.markKept(3);
    ASSERT_EQ(Taken::Acknowledge, take(intake, data)); // record 3
    EXPECT_EQ(buildAcknowledgement(data.data(), data.size()), intake.acknowledgement());
    EXPECT_EQ(3u, takeImeiFields().size()); // the unacknowledged ones are still delivered
}

TEST_F(PacketIntakeTest, AcknowledgingOnlyKeptRecordsGivesNoAckWhenTheQueueIsFull)
{
    PacketIntake intake(m_queue, true, std::chrono::milliseconds(0));
    intake.begin(1);
    m_queue.markKept(1000000);
    fillQueue();
    EXPECT_EQ(Taken::QueueFull, take(intake, fakes::makePacket(0, {})));
}
