// tests/tracker/IntakeFixture.h: a listener on a free loopback port with a fake clock, short
// waits and a day log in a scratch directory.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DayLog.h"
#include "tests/fakes/FakeClock.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"
#include "tracker/TrackerListener.h"

struct QueuedRecord
{
    tracker::Bytes imeiField;
    tracker::Bytes packet;
    std::uint32_t connection;
};

class IntakeFixture : public ::testing::Test
{
protected:
    static inline const std::string kImeiA = "356307042441013";
    static inline const std::string kImeiB = "861230043907634";

    void SetUp() override { startListener(); }
    void TearDown() override { stopListener(); }

    // Short waits and the fake clock; tune changes what a test needs beyond that.
    void startListener(const std::function<void(tracker::ListenerOptions&)>& tune = {})
    {
        tracker::ListenerOptions options;
        options.clock = &m_clock;
        options.receiveWaitMs = 20;
        options.acceptWaitMs = 20;
        if (tune)
            tune(options);
        m_listener = std::make_unique<tracker::TrackerListener>(m_dayLog, options);
        m_listener->setPort(0);
        ASSERT_TRUE(m_listener->start());
        ASSERT_TRUE(m_listener->waitOpenAttempt(std::chrono::milliseconds(5000)));
        m_port = m_listener->boundPort();
    }

    void stopListener()
    {
        if (m_listener)
            m_listener->stop();
    }

    void restartListener(const std::function<void(tracker::ListenerOptions&)>& tune)
    {
        stopListener();
        startListener(tune);
    }

    std::unique_ptr<fakes::TrackerClient> connect()
    {
        auto c = std::make_unique<fakes::TrackerClient>(m_port);
        EXPECT_TRUE(c->connected());
        return c;
    }

    // Takes every record queued so far.
    std::vector<QueuedRecord> takeRecords()
    {
        std::vector<QueuedRecord> out;
        tracker::Bytes r;
        std::uint32_t conn = 0;
        while (m_listener->queue().peekPacket(&r, &conn)) {
            m_listener->queue().popPacket();
            out.push_back({tracker::Bytes(r.begin(), r.begin() + 16),
                           tracker::Bytes(r.begin() + 16, r.end()), conn});
        }
        return out;
    }

    // Takes every notice queued so far: the connection numbers.
    std::vector<std::uint32_t> takeNotices()
    {
        std::vector<std::uint32_t> out;
        tracker::Bytes n;
        while (m_listener->queue().peekNotice(&n)) {
            m_listener->queue().popNotice();
            EXPECT_EQ(5u, n.size());
            EXPECT_EQ(1, n[0]);
            out.push_back(tracker::readU32(n.data() + 1));
        }
        return out;
    }

    // Waits for n notices in all, gathering them into m_notices.
    bool waitNotices(std::size_t n, int waitMs = 3000)
    {
        return fakes::eventually(
            [&] {
                for (auto c : takeNotices())
                    m_notices.push_back(c);
                return m_notices.size() >= n;
            },
            waitMs);
    }

    // Waits until the clock has been read twice since now. With one connection served, whose
    // worker reads it once a cycle to check the limits, it is then still open only if the
    // limits let it be at the clock's present time.
    bool limitsChecked()
    {
        const std::uint64_t reads = m_clock.reads();
        return fakes::eventually([&] { return m_clock.reads() >= reads + 2; });
    }

    static tracker::Bytes ackFor(const tracker::Bytes& packet)
    {
        return {0x01, packet[packet.size() - 2], packet.back()};
    }

    static tracker::Bytes imeiField(const std::string& imei)
    {
        const tracker::ImeiField f = fakes::imeiFieldOf(imei);
        return tracker::Bytes(f.begin(), f.end());
    }

    std::string dayLogText() const { return m_dir.read("03.05.2017.log"); }

    // Lines of the day log containing word.
    std::size_t dayLogLines(const std::string& word) const
    {
        const std::string log = dayLogText();
        std::size_t n = 0;
        for (std::size_t at = log.find(word); at != std::string::npos; at = log.find(word, at + 1))
            ++n;
        return n;
    }

    // Sends the packet and expects its acknowledgement.
    static void exchange(fakes::TrackerClient& t, const tracker::Bytes& packet)
    {
        ASSERT_TRUE(t.send(packet));
        ASSERT_EQ(ackFor(packet), t.receive(3));
    }

    fakes::TempDir m_dir;
    fakes::FakeClock m_clock;
    platform::DayLog m_dayLog{m_dir.path(), &fakes::workedTime};
    std::unique_ptr<tracker::TrackerListener> m_listener;
    std::uint16_t m_port = 0;
    std::vector<std::uint32_t> m_notices;
};
