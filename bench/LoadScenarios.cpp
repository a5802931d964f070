// bench/LoadScenarios.cpp
#include "bench/LoadScenarios.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "bench/ProcessUsage.h"
#include "link/Frames.h"
#include "platform/Socket.h"
#include "tools/common/Monotonic.h"
#include "tools/msgserver/FrameReader.h"

using namespace std::chrono_literals;

namespace loadbench {

namespace {

// A position message as the gateway writes it: the data frames of the ceiling carry this.
const std::string kSampleMessage =
    R"({"$c$":"gps","type":"gt20v5","imei":"356307042440000","lat":51.201128,"lon":51.371756,)"
    R"("time":"03.05.2017 9:51:34","alt":39,"course":706,"hdop":8,"sat":14,"speed":12})";

constexpr double kDeliveredWithinS = 10;  // every acknowledged record after the load ends
constexpr double kFlatOutGoalPerS = 5000; // delivered with 200 trackers flat out
constexpr double kCpuGoalUs = 30;         // the gateway's CPU per delivered message, flat out
constexpr double kPacedPerS = 2000;       // offered in the paced scenario
constexpr double kPacedAckGoalMs = 100;   // acknowledgement p99 there
constexpr double kDrainShareOfCeiling = 0.5;
constexpr std::size_t kTrackers = 200;
// Records a packet while the server is away: fewer packets for the same million records.
constexpr std::size_t kOutageRecordsPerPacket = 10;
// Resident memory may grow by this much from the first quarter of the outage to its end: about
// 5 bytes a record. A gateway that keeps nothing per stored message stays well within it.
constexpr double kOutageGrowthLimitMb = 4;
constexpr auto kPollEvery = 100ms;
constexpr auto kLoadLimit = 300s;

double secondsBetween(std::int64_t fromUs, std::int64_t toUs)
{
    return static_cast<double>(toUs - fromUs) / 1e6;
}

std::string fixed(double v)
{
    return figure(v, 0);
}

} // namespace

// Round trips per second of data frames, one at a time, each waiting for msgserver's reply: the
// best a strict request/reply link can do on this machine now. The machine is shared, so the run
// is cut into slices and the best slice counts.
double measureCeiling(double seconds, bool keep)
{
    constexpr int kSlices = 5;
    Stage stage("ceiling", keep);
    if (!stage.ready() || !stage.startServer())
        return 0;
    platform::SocketHandle s = platform::createTcpSocket();
    if (!platform::connectWithTimeout(s, "127.0.0.1", stage.serverPort(), 3000)) {
        platform::closeSocket(s);
        return 0;
    }
    platform::setNoDelay(s);
    const msglink::Bytes body(kSampleMessage.begin(), kSampleMessage.end());
    std::atomic<bool> stop{false};
    msglink::Bytes reply;
    std::int64_t number = 0;
    double best = 0;
    const auto sliceUs = static_cast<std::int64_t>(seconds * 1e6 / kSlices);
    for (int slice = 0; slice < kSlices; ++slice) {
        std::int64_t trips = 0;
        const std::int64_t start = tools::monotonicMicros();
        bool failed = false;
        while (!failed && tools::monotonicMicros() - start < sliceUs) {
            msglink::Bytes wire = msglink::wrapInEnvelope(
                msglink::makePayload(msglink::kDataMessage, body, number++));
            failed =
                platform::sendOnce(s, wire.data(), wire.size()) != static_cast<long>(wire.size()) ||
                msgserver::readFrame(s, stop, reply) != msgserver::FrameRead::Frame;
            trips += !failed;
        }
        best = std::max(best, static_cast<double>(trips) /
                                  secondsBetween(start, tools::monotonicMicros()));
        if (failed)
            break;
    }
    platform::closeSocket(s);
    stage.stopAll();
    return best;
}

namespace {

// Follows the acknowledgements and the arrivals of a stage into one ledger.
class Watch
{
public:
    explicit Watch(const Stage& stage)
        : m_acked(stage.file("acked.txt")), m_arrived(stage.file("server.out"))
    {
    }

    void take()
    {
        for (const std::string& line : m_acked.newLines())
            if (auto s = parseAckedLine(line))
                m_ledger.acked(*s);
        for (const std::string& line : m_arrived.newLines())
            if (auto s = parseMessageLine(line))
                m_ledger.arrived(*s);
    }

    // Takes what arrives until every acknowledged record is in or the limit has passed.
    Tally untilDelivered(std::int64_t limitUs)
    {
        for (;;) {
            take();
            if (m_ledger.allDelivered() || tools::monotonicMicros() > limitUs)
                return m_ledger.tally();
            std::this_thread::sleep_for(kPollEvery);
        }
    }

    const Ledger& ledger() const { return m_ledger; }

private:
    LineFollower m_acked, m_arrived;
    Ledger m_ledger;
};

// The gateway's CPU time from construction on, per message.
class CpuWindow
{
public:
    explicit CpuWindow(const Stage& stage) : m_stage(stage), m_startS(now()) {}

    // Microseconds of CPU per message since the start; nothing without messages or a gateway.
    std::optional<double> usPer(std::size_t messages) const
    {
        auto end = now();
        if (!m_startS || !end || messages == 0)
            return std::nullopt;
        return (*end - *m_startS) * 1e6 / static_cast<double>(messages);
    }

private:
    std::optional<double> now() const
    {
        auto pid = m_stage.gatewayPid();
        return pid ? cpuSeconds(*pid) : std::nullopt;
    }

    const Stage& m_stage;
    std::optional<double> m_startS;
};

Row emptyRow(const char* scenario, const GatewayUnderTest& g, std::size_t trackers, double ceiling)
{
    Row r;
    r.scenario = scenario;
    r.gateway = g.label;
    r.trackers = trackers;
    r.ceilingPerS = ceiling;
    return r;
}

// The acknowledgement latency from the trackers' summary, once they have ended.
void takeAckLatency(const Stage& stage, std::optional<double>& p50, std::optional<double>& p99)
{
    if (auto l = parseAckLatency(stage.trackersSummary("latency ms"))) {
        p50 = l->p50Ms;
        p99 = l->p99Ms;
    }
}

// The goals every scenario is held to: something acknowledged, nothing lost, nothing twice, and
// all of it in within kDeliveredWithinS of loadEndUs.
void checkCommonGoals(Row& r, std::int64_t loadEndUs, bool gatewayRunning)
{
    const Tally& t = r.tally;
    if (t.acked == 0)
        r.failures.push_back("nothing acknowledged");
    if (t.undelivered > 0)
        r.failures.push_back(std::to_string(t.undelivered) + " never delivered");
    if (t.duplicates > 0)
        r.failures.push_back(std::to_string(t.duplicates) + " delivered twice without a failure");
    if (t.undelivered == 0 && t.lastArrivalUs &&
        secondsBetween(loadEndUs, *t.lastArrivalUs) > kDeliveredWithinS)
        r.failures.push_back("last one " + fixed(secondsBetween(loadEndUs, *t.lastArrivalUs)) +
                             " s after the load");
    if (!gatewayRunning)
        r.failures.push_back("the gateway died");
}

// Delivered records per second from the first acknowledgement to the last arrival.
double endToEndRate(const Tally& t)
{
    if (!t.firstAckUs || !t.lastArrivalUs || *t.lastArrivalUs <= *t.firstAckUs)
        return 0;
    return static_cast<double>(t.delivered) / secondsBetween(*t.firstAckUs, *t.lastArrivalUs);
}

// What the row's figures do not show: records still missing at the limit, packets the trackers
// sent without getting an acknowledgement.
void addNotes(Row& r, const Stage& stage, double limitS)
{
    if (r.tally.undelivered > 0)
        r.notes.push_back(std::to_string(r.tally.undelivered) + " still missing " + fixed(limitS) +
                          " s after the load");
    std::string unacknowledged = stage.trackersSummary("unacknowledged");
    if (!unacknowledged.empty() && unacknowledged != "0")
        r.notes.push_back(unacknowledged + " packets not acknowledged");
}

// How the trackers load the gateway: gt20sim's pace and amount.
struct TrackerLoad
{
    std::size_t trackers = kTrackers;
    std::string intervalS = "0"; // "0": the next packet as soon as the last is acknowledged
    std::vector<std::string> amount;
};

// Trackers against a gateway logged in to the server: the load lasts until the trackers end, then
// the arrivals are awaited. The CPU window spans both.
Row underLoad(const char* scenario, const TrackerLoad& load, const ScenarioOptions& o,
              const GatewayUnderTest& g, double ceiling)
{
    Row r = emptyRow(scenario, g, load.trackers, ceiling);
    Stage stage(r.scenario + "-" + g.label, o.keep);
    if (!stage.ready() || !stage.startServer() || !stage.startGateway(g) ||
        !stage.gatewayLoggedIn()) {
        r.failures.push_back("could not start the server and the gateway");
        return r;
    }
    Watch watch(stage);
    CpuWindow cpu(stage);
    stage.startTrackers(load.trackers, 1, load.intervalS, load.amount);
    const auto trackersLimit = std::chrono::steady_clock::now() + kLoadLimit;
    while (!stage.trackersDone(0s) && std::chrono::steady_clock::now() < trackersLimit) {
        watch.take();
        std::this_thread::sleep_for(kPollEvery);
    }
    watch.take();
    const std::int64_t loadEnd = watch.ledger().tally().lastAckUs.value_or(0);
    r.tally = watch.untilDelivered(loadEnd + static_cast<std::int64_t>(o.limitS * 1e6));
    r.cpuUsPerMessage = cpu.usPer(r.tally.delivered);
    r.ratePerS = endToEndRate(r.tally);
    takeAckLatency(stage, r.ackP50Ms, r.ackP99Ms);
    checkCommonGoals(r, loadEnd, stage.gatewayRunning());
    addNotes(r, stage, o.limitS);
    stage.stopAll();
    return r;
}

} // namespace

// 200 trackers, each sending its next packet as soon as the previous one is acknowledged, 10 s.
Row flatOut(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling)
{
    Row r = underLoad("flat-out", {kTrackers, "0", {"--duration", "10"}}, o, g, ceiling);
    if (r.ratePerS < kFlatOutGoalPerS)
        r.failures.push_back("delivered/s below " + fixed(kFlatOutGoalPerS));
    if (r.cpuUsPerMessage && *r.cpuUsPerMessage > kCpuGoalUs)
        r.failures.push_back("CPU per message above " + fixed(kCpuGoalUs) + " us");
    return r;
}

// 200 trackers each sending a packet every 0.1 s for 10 s: 2 000 messages a second offered, as
// long as the acknowledgements keep up.
Row paced(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling)
{
    const double intervalS = static_cast<double>(kTrackers) / kPacedPerS;
    constexpr double kDurationS = 10;
    Row r = underLoad("paced", {kTrackers, figure(intervalS, 3), {"--duration", fixed(kDurationS)}},
                      o, g, ceiling);
    if (!r.ackP99Ms || *r.ackP99Ms > kPacedAckGoalMs)
        r.failures.push_back("acknowledgement p99 above " + fixed(kPacedAckGoalMs) + " ms");
    r.notes.push_back("offered " + fixed(static_cast<double>(r.tally.acked) / kDurationS) +
                      "/s acknowledged of " + fixed(kPacedPerS) + "/s planned");
    return r;
}

// The server away while 200 trackers send 10 000 records, then up: the drain. The CPU window
// starts with the server, so it holds the sending and not the storing.
Row drain(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling)
{
    Row r = emptyRow("drain", g, kTrackers, ceiling);
    Stage stage(r.scenario + "-" + g.label, o.keep);
    if (!stage.ready() || !stage.startGateway(g)) {
        r.failures.push_back("could not start the gateway");
        return r;
    }
    stage.startTrackers(r.trackers, 1, "0", {"--count", "50"});
    if (!stage.trackersDone(kLoadLimit)) {
        r.failures.push_back("the trackers did not finish within 300 s");
        stage.stopAll();
        return r;
    }
    takeAckLatency(stage, r.ackP50Ms, r.ackP99Ms);
    const std::int64_t serverUp = tools::monotonicMicros();
    CpuWindow cpu(stage);
    if (!stage.startServer()) {
        r.failures.push_back("could not start the server");
        return r;
    }
    Watch watch(stage);
    r.tally = watch.untilDelivered(serverUp + static_cast<std::int64_t>(o.limitS * 1e6));
    r.cpuUsPerMessage = cpu.usPer(r.tally.delivered);
    const Tally& t = r.tally;
    // From the server's start, reconnect wait included.
    if (t.lastArrivalUs && *t.lastArrivalUs > serverUp)
        r.ratePerS = static_cast<double>(t.delivered) / secondsBetween(serverUp, *t.lastArrivalUs);
    // What the link drains at once it is up: from the first delivery to the last.
    double linkRate = 0;
    if (t.firstArrivalUs && t.lastArrivalUs && *t.lastArrivalUs > *t.firstArrivalUs)
        linkRate = static_cast<double>(t.delivered - 1) /
                   secondsBetween(*t.firstArrivalUs, *t.lastArrivalUs);
    checkCommonGoals(r, serverUp, stage.gatewayRunning());
    if (linkRate < kDrainShareOfCeiling * ceiling)
        r.failures.push_back("drain below half the ceiling");
    std::string first = t.firstArrivalUs ? fixed(secondsBetween(serverUp, *t.firstArrivalUs)) : "-";
    r.notes.push_back("drain/s once the link is up " + fixed(linkRate) + ", first after " + first +
                      " s");
    addNotes(r, stage, o.limitS);
    stage.stopAll();
    return r;
}

// 2 000 trackers reconnecting at once, each dumping 50 stored records. A refused record is no
// fault (the tracker keeps it), so records never acknowledged are only told.
Row reconnect(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling)
{
    constexpr std::size_t kMany = 2000, kRecords = 50;
    Row r =
        underLoad("reconnect", {kMany, "0", {"--count", std::to_string(kRecords)}}, o, g, ceiling);
    if (r.tally.acked < kMany * kRecords)
        r.notes.push_back(std::to_string(kMany * kRecords - r.tally.acked) +
                          " records never acknowledged");
    return r;
}

std::vector<std::size_t> outageMarks()
{
    return {0, kOutageRecords / 4, kOutageRecords / 2, kOutageRecords * 3 / 4, kOutageRecords};
}

// No server at all: the gateway stores what the trackers send, 10 records a packet, until a
// million are acknowledged; its resident memory is read as each mark is passed.
MemoryRow outageMemory(const ScenarioOptions& o, const GatewayUnderTest& g)
{
    MemoryRow r;
    r.gateway = g.label;
    r.trackers = kTrackers;
    Stage stage("outage-rss-" + g.label, o.keep);
    if (!stage.ready() || !stage.startGateway(g)) {
        r.failures.push_back("could not start the gateway");
        return r;
    }
    const pid_t pid = *stage.gatewayPid();
    const std::vector<std::size_t> marks = outageMarks();
    LineFollower acked(stage.file("acked.txt"));
    r.residentMb.push_back(residentMegabytes(pid)); // nothing stored yet
    CpuWindow cpu(stage);
    const std::int64_t start = tools::monotonicMicros();
    stage.startTrackers(
        kTrackers, kOutageRecordsPerPacket, "0",
        {"--count", std::to_string(kOutageRecords / (kTrackers * kOutageRecordsPerPacket))});
    const auto limit = std::chrono::steady_clock::now() + kLoadLimit;
    for (bool done = false; !done;) {
        done = stage.trackersDone(0s) || std::chrono::steady_clock::now() > limit;
        r.stored += acked.newLines().size();
        while (r.residentMb.size() < marks.size() && r.stored >= marks[r.residentMb.size()])
            r.residentMb.push_back(residentMegabytes(pid));
        if (!done)
            std::this_thread::sleep_for(20ms);
    }
    r.storedPerS = static_cast<double>(r.stored) / secondsBetween(start, tools::monotonicMicros());
    r.cpuUsPerRecord = cpu.usPer(r.stored);
    r.residentMb.resize(marks.size());
    takeAckLatency(stage, r.ackP50Ms, r.ackP99Ms);
    if (r.stored < kOutageRecords)
        r.failures.push_back(std::to_string(kOutageRecords - r.stored) + " records not stored");
    if (r.residentMb[1] && r.residentMb.back() &&
        *r.residentMb.back() - *r.residentMb[1] > kOutageGrowthLimitMb)
        r.failures.push_back("grew " + fixed(*r.residentMb.back() - *r.residentMb[1]) +
                             " MB from the first quarter on");
    if (!stage.gatewayRunning())
        r.failures.push_back("the gateway died");
    stage.stopAll();
    return r;
}

} // namespace loadbench
