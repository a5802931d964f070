// bench/StandInGateway.cpp: standin_gateway, the least a gateway can do, as a yardstick for the
// load benchmark. One epoll thread takes trackers in, cuts and checks their packets and
// acknowledges every good one at once; each record of a data packet becomes the same position
// message the gateway writes, and one link thread forwards them to the message server, one frame
// at a time, each awaiting its reply. No backlog: what it acknowledged is lost when the link fails,
// so a failed link ends it. Not a gateway: it only shows what the real one's safety costs.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "link/Frames.h"
#include "link/LinkTransport.h"
#include "platform/Socket.h"
#include "platform/StopSignal.h"
#include "tools/common/OptionReader.h"
#include "tracker/Crc16.h"
#include "tracker/PositionMessage.h"

namespace {

constexpr std::size_t kQueueLimit = 100000; // messages; intake waits beyond it
constexpr std::size_t kFieldCountAt = 27, kFieldListAt = 28;

struct Options
{
    std::uint16_t port = 0, serverPort = 0;
    bool help = false, version = false;
};

// Messages from the intake thread to the link thread.
class Queue
{
public:
    void push(std::string message, const std::atomic<bool>& stop)
    {
        std::unique_lock lock(m_mutex);
        while (m_messages.size() >= kQueueLimit && !stop)
            m_changed.wait_for(lock, std::chrono::milliseconds(100));
        m_messages.push_back(std::move(message));
        m_changed.notify_all();
    }
    bool pop(std::string& message, const std::atomic<bool>& stop)
    {
        std::unique_lock lock(m_mutex);
        while (m_messages.empty() && !stop)
            m_changed.wait_for(lock, std::chrono::milliseconds(100));
        if (m_messages.empty())
            return false;
        message = std::move(m_messages.front());
        m_messages.pop_front();
        m_changed.notify_all();
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_messages; // guarded by m_mutex
};

// One request, one reply; false when the link failed or the reply is not the one expected.
bool exchange(msglink::LinkTransport& link, msglink::MessageCounter& counter, std::uint32_t code,
              const msglink::Bytes& body, msglink::ReplyKind expected)
{
    msglink::Bytes reply;
    if (!link.sendFrame(msglink::makePayload(code, body, counter.take())) ||
        link.receiveFrame(reply) != msglink::ReceiveStatus::Ok)
        return false;
    auto r = msglink::checkReply(reply);
    return r && (r->kind == expected || expected == msglink::ReplyKind::Other);
}

void forward(std::uint16_t serverPort, Queue& queue, std::atomic<bool>& stop)
{
    msglink::LinkTransport link;
    while (!stop && !link.openLink("127.0.0.1", serverPort))
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    msglink::MessageCounter counter;
    bool up = link.isOpen();
    for (const msglink::Message& m : msglink::loginMessages(1))
        up = up &&
             exchange(link, counter, m.code, m.body,
                      m.code == msglink::kModuleIdentification ? msglink::ReplyKind::LoginAccepted
                                                               : msglink::ReplyKind::Other);
    for (std::string text; up && queue.pop(text, stop);)
        up =
            exchange(link, counter, msglink::kDataMessage, msglink::Bytes(text.begin(), text.end()),
                     msglink::ReplyKind::DeliveryConfirmation);
    if (!stop)
        std::fprintf(stderr, "standin_gateway: link failed: %s\n", link.failure().c_str());
    stop = true;
}

// A tracker's connection: bytes not yet cut into packets, and who it said it is.
struct Tracker
{
    platform::Bytes in;
    tracker::TrackerRow row;
    bool identified = false;
};

void identify(Tracker& t, const std::uint8_t* p, std::size_t size)
{
    if (size < kFieldListAt + tracker::kChecksumSize)
        return;
    t.row.imei[0] = static_cast<std::uint8_t>(tracker::kImeiLength);
    std::copy_n(p + tracker::kImeiOffset, tracker::kImeiLength, t.row.imei.begin() + 1);
    std::size_t present = std::min<std::size_t>(p[kFieldCountAt], size - 2 - kFieldListAt);
    t.row.fieldCount = static_cast<std::uint8_t>(present);
    std::copy_n(p + kFieldListAt, present, t.row.fields.begin());
    t.identified = true;
}

// Cuts the packets in t.in, acknowledges and hands on each good one; false: drop the tracker.
bool takePackets(int fd, Tracker& t, Queue& queue, const std::atomic<bool>& stop)
{
    std::size_t at = 0;
    while (t.in.size() - at >= tracker::kHeaderSize + tracker::kChecksumSize) {
        const std::uint8_t* p = t.in.data() + at;
        const std::uint16_t header = platform::readU16(p);
        const std::size_t size =
            tracker::kHeaderSize + tracker::bodyLength(header) + tracker::kChecksumSize;
        if (t.in.size() - at < size)
            break;
        at += size;
        if (!tracker::checksumMatches(p, size))
            continue;
        auto ack = tracker::buildAcknowledgement(p, size);
        if (::send(fd, ack.data(), ack.size(), MSG_NOSIGNAL) != static_cast<long>(ack.size()))
            return false;
        if (tracker::packetType(header) == tracker::kIdentificationPacket)
            identify(t, p, size);
        else if (tracker::packetType(header) == tracker::kDataPacket && t.identified)
            tracker::decodeDataPacket(t.row, p, size,
                                      [&](const std::string& m) { queue.push(m, stop); });
    }
    t.in.erase(t.in.begin(), t.in.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

void serveTrackers(platform::SocketHandle listening, Queue& queue, const std::atomic<bool>& stop)
{
    int ep = ::epoll_create1(0);
    epoll_event ev{EPOLLIN, {.fd = listening}};
    ::epoll_ctl(ep, EPOLL_CTL_ADD, listening, &ev);
    std::unordered_map<int, Tracker> trackers;
    std::uint8_t buffer[65536];
    epoll_event ready[256];
    while (!stop) {
        int n = ::epoll_wait(ep, ready, 256, 100);
        for (int i = 0; i < n; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == listening) {
                for (int c; (c = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
                    epoll_event add{EPOLLIN, {.fd = c}};
                    ::epoll_ctl(ep, EPOLL_CTL_ADD, c, &add);
                    trackers[c];
                }
                continue;
            }
            long got = ::recv(fd, buffer, sizeof buffer, 0);
            Tracker& t = trackers[fd];
            if (got > 0)
                t.in.insert(t.in.end(), buffer, buffer + got);
            if (got == 0 || (got < 0 && errno != EAGAIN) || !takePackets(fd, t, queue, stop)) {
                ::close(fd); // also leaves the epoll set
                trackers.erase(fd);
            }
        }
    }
    for (auto& [fd, t] : trackers)
        ::close(fd);
    ::close(ep);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    std::vector<tools::OptionDef<Options>> defs = {
        {"port", false,
         [](Options& x, const std::string& v) {
             return tools::readInto("port", v, 0, 65535, &x.port);
         }},
        {"server-port", false,
         [](Options& x, const std::string& v) {
             return tools::readInto("server-port", v, 1, 65535, &x.serverPort);
         }},
    };
    for (auto& d : tools::standardDefinitions<Options>())
        defs.push_back(std::move(d));
    std::string error =
        tools::readOptions(defs, std::vector<std::string>(argv + 1, argv + argc), o);
    if (auto status = tools::answerCommandLine(
            "standin_gateway", error, o.help, o.version,
            "usage: standin_gateway --port P --server-port S (trackers on P, msgserver on S, "
            "both 127.0.0.1; ends on SIGTERM)\n"))
        return *status;
    platform::installStopSignals();
    platform::raiseOpenFileLimit();
    platform::SocketHandle listening = platform::createTcpSocket();
    if (!platform::bindLoopback(listening, o.port) || !platform::listenMax(listening)) {
        std::fprintf(stderr, "standin_gateway: cannot listen: %s\n",
                     platform::lastSocketError().c_str());
        return 1;
    }
    ::fcntl(listening, F_SETFL, ::fcntl(listening, F_GETFL) | O_NONBLOCK);
    std::fprintf(stderr, "listening on tracker port %u\n", platform::localPort(listening));
    std::atomic<bool> stop{false};
    Queue queue;
    std::thread link(forward, o.serverPort, std::ref(queue), std::ref(stop));
    std::thread watch([&] {
        while (!stop && !platform::stopSignal())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop = true;
    });
    serveTrackers(listening, queue, stop);
    link.join();
    watch.join();
    platform::closeSocket(listening);
    return 0;
}
