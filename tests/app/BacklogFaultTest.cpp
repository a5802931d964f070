// tests/app/BacklogFaultTest.cpp: the whole gateway over real sockets while its backlog cannot
// be written (a full disk, a read-only one): trackers are not acknowledged, the event list says
// why, and once writing works again everything acknowledged reaches the server.
#include <cerrno>
#include <fstream>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "app/Gateway.h"
#include "link/LinkEvents.h"
#include "platform/MainThread.h"
#include "tests/app/LoopbackGateway.h"
#include "tests/fakes/FakeMessageServer.h"
#include "tests/fakes/FaultyFileSystem.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

using fakes::Bytes;

namespace {

// The worked data packet with its speed changed, so that each message can be told apart.
Bytes dataWithSpeed(std::uint8_t speed)
{
    Bytes p = fakes::workedDataPacket();
    Bytes body(p.begin() + 2, p.end() - 2);
    body[19] = speed;
    return fakes::makePacket(2, body, 1);
}

class BacklogFaultTest : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override
    {
        std::ofstream(m_dir.file("gpsbridge.ini"))
            << "[main]\nDefaultPort=0\n[ServerHost]\nPort=" << m_server.port() << "\n";
        msglink::ClientOptions client;
        client.replyWaitMs = 1500;
        client.idlePauseMs = 2;
        app::GatewayOptions options = fakes::loopbackGatewayOptions(m_dir.path(), client);
        options.listener.receiveWaitMs = 50;
        options.listener.ackWhenKept = true; // as shipped
        options.listener.keptWaitMs = 300;
        options.dispatch.retryMs = 50;
        options.outbox.files = &m_files;
        m_gateway = fakes::startedGateway(m_view, options);
        ASSERT_TRUE(runUntil([&] { return m_server.frames().size() >= 4; }));
    }

    void TearDown() override
    {
        if (m_gateway)
            m_gateway->stop();
    }

    // Runs the main thread (dispatch ticks and the client's hand-overs) until pred holds.
    template <typename Pred> bool runUntil(Pred pred, int waitMs = 10000)
    {
        for (int i = 0; i < waitMs / 5 && !pred(); ++i) {
            m_gateway->dispatchTick();
            platform::serveMainThreadFor(5);
        }
        return pred();
    }

    // Sends a packet and, while the main thread runs, waits for its acknowledgement.
    bool acknowledged(fakes::TrackerClient& tracker, const Bytes& packet)
    {
        if (!tracker.send(packet))
            return false;
        Bytes ack;
        runUntil([&] {
            Bytes more = tracker.receive(3 - ack.size(), 5);
            ack.insert(ack.end(), more.begin(), more.end());
            return ack.size() == 3 || m_gateway->listener().counts().withheld.get() > m_withheld;
        });
        m_withheld = m_gateway->listener().counts().withheld.get();
        return ack == Bytes{0x01, packet[packet.size() - 2], packet.back()};
    }

    std::multiset<std::string> delivered() const
    {
        std::multiset<std::string> out;
        for (auto& f : m_server.framesWithCode(msglink::kDataMessage))
            out.insert(f.text());
        return out;
    }

    static std::string speedOf(std::uint8_t speed)
    {
        std::string json = fakes::kWorkedJson;
        return json.replace(json.find("\"speed\":12"), 10, "\"speed\":" + std::to_string(speed));
    }

    int eventsWith(const std::string& text) const
    {
        int n = 0;
        for (const std::string& line : m_view.events())
            n += line.find(text) != std::string::npos;
        return n;
    }

    fakes::TempDir m_dir;
    fakes::FaultyFileSystem m_files;
    fakes::FakeMessageServer m_server;
    app::StatusView m_view;
    std::unique_ptr<app::Gateway> m_gateway;
    std::uint64_t m_withheld = 0;
};

} // namespace

TEST_P(BacklogFaultTest, NothingIsAcknowledgedWhileTheBacklogCannotBeWrittenAndNothingIsLost)
{
    const int error = GetParam();
    fakes::TrackerClient tracker(m_gateway->listener().boundPort());
    ASSERT_TRUE(acknowledged(tracker, fakes::makeIdentification(fakes::kWorkedImei)));
    ASSERT_TRUE(acknowledged(tracker, dataWithSpeed(1)));

    m_files.refuseChanges(error);
    EXPECT_FALSE(acknowledged(tracker, dataWithSpeed(2))); // held, and said
    EXPECT_FALSE(acknowledged(tracker, dataWithSpeed(2))); // the tracker tries again
    EXPECT_EQ(1, eventsWith(msglink::kEventBacklogFailing));
    EXPECT_EQ(1, eventsWith(platform::errorText(error)));

    m_files.refuseChanges(0);
    ASSERT_TRUE(acknowledged(tracker, dataWithSpeed(2)));
    ASSERT_TRUE(acknowledged(tracker, dataWithSpeed(3)));
    ASSERT_TRUE(runUntil([&] { return delivered().count(speedOf(3)) == 1; }));
    EXPECT_EQ(1, eventsWith(msglink::kEventBacklogRecovered));
    // Every acknowledged message arrived; the unacknowledged sendings of speed 2, kept in the
    // queue meanwhile, arrive as well (duplicates, not losses).
    auto got = delivered();
    EXPECT_EQ(1u, got.count(speedOf(1)));
    EXPECT_GE(got.count(speedOf(2)), 1u);
    EXPECT_EQ(1u, got.count(speedOf(3)));
}

INSTANTIATE_TEST_SUITE_P(FullOrReadOnly, BacklogFaultTest, ::testing::Values(ENOSPC, EROFS));
