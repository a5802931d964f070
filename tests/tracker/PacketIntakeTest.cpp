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

TEST_F(PacketIntakeTest, IdentificationRecordCarriesItsOwnImeiAndANewConnectionStartsEmpty)
{
    m_intake.begin(1);
    ASSERT_EQ(Taken::Acknowledge, take(m_intake, fakes::makeIdentification(kImeiA)));
    ASSERT_EQ(Taken::Acknowledge, take(m_intake, fakes::makeIdentification(kImeiB)));
    m_intake.begin(2);
    EXPECT_FALSE(m_intake.identified());
    ASSERT_EQ(Taken::Acknowledge, take(m_intake, fakes::makePacket(0, {})));
    auto fields = takeImeiFields();
    ASSERT_EQ(3u, fields.size());
    EXPECT_EQ(fakes::imeiFieldOf(kImeiA), fields[0]);
    EXPECT_EQ(fakes::imeiFieldOf(kImeiB), fields[1]);
    EXPECT_EQ(0, fields[2][0]);
}

// The records of a data packet before identification name no tracker and are never delivered;
// it was acknowledged all the same. Packets without records still are.
TEST_F(PacketIntakeTest, DataPacketWithRecordsBeforeIdentificationIsQueuedButNotAcknowledged)
{
    m_intake.begin(1);
    EXPECT_EQ(Taken::Unidentified, take(m_intake, fakes::workedDataPacket()));
    EXPECT_EQ(Taken::Acknowledge, take(m_intake, fakes::makePacket(2, {0x00})));
    EXPECT_EQ(Taken::Acknowledge, take(m_intake, fakes::makePacket(2, {})));
    EXPECT_EQ(Taken::Acknowledge, take(m_intake, fakes::makePacket(0, {0x05})));
    EXPECT_EQ(Taken::Acknowledge, take(m_intake, fakes::makePacket(1, Bytes(10, '1'))));
    // An identification packet too short for an IMEI identifies nothing.
    EXPECT_EQ(Taken::Unidentified, take(m_intake, fakes::workedDataPacket()));
    EXPECT_EQ(6u, takeImeiFields().size()); // all of them in the day log's hex lines
    ASSERT_EQ(Taken::Acknowledge, take(m_intake, fakes::makeIdentification(kImeiA)));
    EXPECT_EQ(Taken::Acknowledge, take(m_intake, fakes::workedDataPacket()));
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
