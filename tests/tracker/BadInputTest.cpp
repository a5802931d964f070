// tests/tracker/BadInputTest.cpp: whatever a connection sends, the listener goes on serving.
#include <random>
#include <vector>

#include "tests/tracker/IntakeFixture.h"

using fakes::Bytes;

class BadInputTest : public IntakeFixture
{
protected:
    void expectANormalTrackerIsServed()
    {
        auto t = connect();
        Bytes id = fakes::makeIdentification("356307042441013");
        ASSERT_TRUE(t->send(id));
        EXPECT_EQ(ackFor(id), t->receive(3));
        Bytes data = fakes::workedDataPacket();
        ASSERT_TRUE(t->send(data));
        EXPECT_EQ(ackFor(data), t->receive(3));
    }
};

TEST_F(BadInputTest, GarbageStreams)
{
    std::mt19937 rng(7);
    std::vector<std::unique_ptr<fakes::TrackerClient>> clients;
    for (int c = 0; c < 8; ++c) {
        auto t = connect();
        for (int chunk = 0; chunk < 20; ++chunk) {
            Bytes junk(1 + rng() % 3000);
            for (auto& b : junk)
                b = static_cast<std::uint8_t>(rng());
            t->send(junk);
        }
        clients.push_back(std::move(t));
    }
    expectANormalTrackerIsServed();
    clients.clear();
    expectANormalTrackerIsServed();
}

TEST_F(BadInputTest, HeaderPromisingMoreThanArrives)
{
    auto t = connect();
    Bytes p = fakes::makePacket(2, Bytes(1000, 1));
    t->send(Bytes(p.begin(), p.begin() + 12));
    expectANormalTrackerIsServed();
    t->close();
    expectANormalTrackerIsServed();
}

TEST_F(BadInputTest, TruncatedPacketsThenClose)
{
    Bytes id = fakes::makeIdentification("356307042441013");
    for (std::size_t cut = 1; cut < id.size(); cut += 5) {
        auto t = connect();
        t->send(Bytes(id.begin(), id.begin() + static_cast<long>(cut)));
    }
    expectANormalTrackerIsServed();
}

TEST_F(BadInputTest, HundredsOfConnectionsOpenedAndDroppedAtOnce)
{
    std::vector<std::unique_ptr<fakes::TrackerClient>> clients;
    for (int i = 0; i < 300; ++i)
        clients.push_back(std::make_unique<fakes::TrackerClient>(m_port));
    clients.clear();
    expectANormalTrackerIsServed();
    ASSERT_TRUE(waitNotices(301, 10000));
    EXPECT_LE(m_listener->poolSize(), 301u);
}
