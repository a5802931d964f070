// bench/LoadBench.cpp: the whole gateway under load. The real gpsbridge (headless, in a scratch
// directory of its own), gt20sim's trackers and msgserver, each its own process on loopback; every
// record the trackers saw acknowledged is looked for among the messages the server received.
// One table row per scenario, with the plain request/reply ceiling measured in the same run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/LoadLedger.h"
#include "link/Frames.h"
#include "platform/Socket.h"
#include "tests/fakes/Process.h"
#include "tests/fakes/TrackerClient.h"
#include "tools/common/Monotonic.h"
#include "tools/common/OptionReader.h"
#include "tools/msgserver/FrameReader.h"

using namespace std::chrono_literals;
using fakes::Process;
using loadbench::Tally;

namespace {

// A position message as the gateway writes it: the data frames of the ceiling carry this.
const std::string kSampleMessage =
    R"({"$c$":"gps","type":"gt20v5","imei":"356307042440000","lat":51.201128,"lon":51.371756,)"
    R"("time":"03.05.2017 9:51:34","alt":39,"course":706,"hdop":8,"sat":14,"speed":12})";

constexpr double kDeliveredWithinS = 10;  // every acknowledged record after the load ends
constexpr double kFlatOutGoalPerS = 5000; // delivered with 200 trackers flat out
constexpr double kDrainShareOfCeiling = 0.5;
constexpr auto kPollEvery = 100ms;

struct BenchOptions
{
    double limitS = 120;          // wait for deliveries after the load, per scenario
    double ceilingS = 2;          // length of the ceiling measurement
    std::string scenario = "all"; // or one scenario's name
    bool keep = false;            // keep the scratch directories
    bool help = false;
    bool version = false;
};

std::vector<tools::OptionDef<BenchOptions>> benchDefinitions()
{
    std::vector<tools::OptionDef<BenchOptions>> defs = {
        {"limit", false,
         [](BenchOptions& o, const std::string& v) {
             return tools::readDecimal("limit", v, 1, 3600, &o.limitS);
         }},
        {"ceiling-seconds", false,
         [](BenchOptions& o, const std::string& v) {
             return tools::readDecimal("ceiling-seconds", v, 0.1, 60, &o.ceilingS);
         }},
        {"scenario", false,
         [](BenchOptions& o, const std::string& v) {
             o.scenario = v;
             bool known = v == "all" || v == "flat-out" || v == "drain" || v == "reconnect";
             return known ? "" : "--scenario: all, flat-out, drain or reconnect";
         }},
        {"keep", true,
         [](BenchOptions& o, const std::string&) {
             o.keep = true;
             return "";
         }},
    };
    for (auto& d : tools::standardDefinitions<BenchOptions>())
        defs.push_back(std::move(d));
    return defs;
}

const char kUsage[] = R"(usage: load_bench [options]

The whole gateway under load: gpsbridge --headless, gt20sim and msgserver on loopback, in
scratch directories under the system's temporary directory. Prints one table row per
scenario: acknowledged and delivered records, delivered messages per second, records never
delivered, records delivered twice, latency from acknowledgement to delivery, and the plain
request/reply ceiling of the same data frames measured just before each scenario (the best of
five slices), with the verdict.

  --scenario NAME         all (default), flat-out, drain or reconnect
  --limit SEC             wait for deliveries after the load ends (default 120)
  --ceiling-seconds SEC   length of the ceiling measurement (default 2)
  --keep                  keep the scratch directories and say where they are
  -h, --help              show this text
  -V, --version           show the program's version
)";

double secondsBetween(std::int64_t fromUs, std::int64_t toUs)
{
    return static_cast<double>(toUs - fromUs) / 1e6;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One scenario's directory, ports and processes.
class Stage
{
public:
    Stage(const std::string& name, bool keep) : m_keep(keep)
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / ("gpsbridge-load-" + name + "-XXXXXX"))
                .string();
        m_dir = ::mkdtemp(pattern.data()) ? pattern : std::string();
        m_trackerPort = fakes::freeLoopbackPort();
        do
            m_serverPort = fakes::freeLoopbackPort();
        while (m_serverPort == m_trackerPort);
        std::ofstream(file("gpsbridge.ini"))
            << "[main]\nDefaultPort=" << m_trackerPort << "\n[ServerHost]\nAddress=127.0.0.1\n"
            << "Port=" << m_serverPort << "\n";
    }
    ~Stage()
    {
        if (m_keep) {
            std::fprintf(stderr, "load_bench: kept %s\n", m_dir.c_str());
        } else {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }

    bool ready() const { return !m_dir.empty(); }
    std::string file(const std::string& name) const { return m_dir + "/" + name; }

    // msgserver on the server port, stamping every message; true once it listens.
    bool startServer()
    {
        m_server = std::make_unique<Process>(
            MSGSERVER_BINARY,
            std::vector<std::string>{"--port", std::to_string(m_serverPort), "--stamp"}, m_dir,
            file("server.out"), file("server.err"));
        return says("server.err", "listening", 10s);
    }

    // The gateway; true once its tracker port is open.
    bool startGateway()
    {
        m_gateway =
            std::make_unique<Process>(GPSBRIDGE_BINARY, std::vector<std::string>{"--headless"},
                                      m_dir, file("gateway.out"), file("gateway.err"));
        return says("gateway.err", "listening on tracker port", 20s);
    }

    bool gatewayLoggedIn() { return says("server.err", "sent login accepted", 20s); }

    // gt20sim: trackers sending one record a packet as fast as acknowledgements come.
    void startTrackers(std::size_t trackers, const std::vector<std::string>& amount)
    {
        std::vector<std::string> args{"--port",     std::to_string(m_trackerPort),
                                      "--trackers", std::to_string(trackers),
                                      "--records",  "1",
                                      "--interval", "0",
                                      "--acked",    file("acked.txt"),
                                      "--seed",     "1",
                                      "--quiet"};
        args.insert(args.end(), amount.begin(), amount.end());
        m_trackers = std::make_unique<Process>(GT20SIM_BINARY, args, m_dir, file("sim.out"),
                                               file("sim.err"));
    }

    // Waits up to limit for the trackers to finish, however they end; false while they run.
    bool trackersDone(std::chrono::seconds limit)
    {
        if (!m_trackers)
            return true;
        m_trackers->wait(limit);
        return !m_trackers->running();
    }

    bool gatewayRunning() const { return m_gateway && m_gateway->running(); }

    void stopAll()
    {
        for (auto* p : {&m_trackers, &m_gateway, &m_server})
            if (*p)
                (*p)->stop(15s);
    }

    std::uint16_t serverPort() const { return m_serverPort; }

    // A figure of gt20sim's summary ("unacknowledged" gives N from "unacknowledged N"), or "".
    std::string trackersSummary(const std::string& name) const
    {
        std::istringstream summary(readFile(file("sim.out")));
        for (std::string line; std::getline(summary, line);)
            if (line.compare(0, name.size() + 1, name + " ") == 0)
                return line.substr(name.size() + 1);
        return {};
    }

private:
    // Waits until the file holds the text.
    bool says(const std::string& name, const std::string& text, std::chrono::seconds limit) const
    {
        return waitUntil([&] { return readFile(file(name)).find(text) != std::string::npos; },
                         limit);
    }

    bool m_keep;
    std::string m_dir;
    std::uint16_t m_trackerPort = 0;
    std::uint16_t m_serverPort = 0;
    std::unique_ptr<Process> m_server, m_gateway, m_trackers;
};

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
            if (auto s = loadbench::parseAckedLine(line))
                m_ledger.acked(*s);
        for (const std::string& line : m_arrived.newLines())
            if (auto s = loadbench::parseMessageLine(line))
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

    const loadbench::Ledger& ledger() const { return m_ledger; }

private:
    loadbench::LineFollower m_acked, m_arrived;
    loadbench::Ledger m_ledger;
};

struct Row
{
    std::string scenario;
    std::size_t trackers = 0;
    Tally tally;
    double ratePerS = 0; // delivered messages per second as the scenario defines it
    double ceilingPerS = 0;
    std::vector<std::string> failures;
    std::vector<std::string> notes;
};

void printHeader()
{
    std::printf(
        "| scenario | trackers | acked | delivered | delivered/s | undelivered | duplicates "
        "| latency p50 ms | latency p99 ms | ceiling/s | result |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
}

void printRow(const Row& r)
{
    std::string verdict = r.failures.empty() ? "PASS" : "FAIL:";
    for (std::size_t i = 0; i < r.failures.size(); ++i)
        verdict += (i ? "; " : " ") + r.failures[i];
    for (std::size_t i = 0; i < r.notes.size(); ++i)
        verdict += (i ? "; " : " (") + r.notes[i] + (i + 1 == r.notes.size() ? ")" : "");
    const Tally& t = r.tally;
    std::printf("| %s | %zu | %zu | %zu | %.0f | %zu | %zu | %.1f | %.1f | %.0f | %s |\n",
                r.scenario.c_str(), r.trackers, t.acked, t.delivered, r.ratePerS, t.undelivered,
                t.duplicates, t.latencyP50Ms, t.latencyP99Ms, r.ceilingPerS, verdict.c_str());
    std::fflush(stdout);
}

std::string fixed(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", v);
    return text;
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

// Trackers against a gateway logged in to the server: the load lasts until the trackers end
// (amount: gt20sim's --duration or --count), then the arrivals are awaited.
Row underLoad(const char* scenario, std::size_t trackers, const std::vector<std::string>& amount,
              const BenchOptions& o, double ceiling)
{
    Row r{scenario, trackers, {}, 0, ceiling, {}, {}};
    Stage stage(r.scenario, o.keep);
    if (!stage.ready() || !stage.startServer() || !stage.startGateway() ||
        !stage.gatewayLoggedIn()) {
        r.failures.push_back("could not start the server and the gateway");
        return r;
    }
    Watch watch(stage);
    stage.startTrackers(trackers, amount);
    const auto trackersLimit = std::chrono::steady_clock::now() + 300s;
    while (!stage.trackersDone(0s) && std::chrono::steady_clock::now() < trackersLimit) {
        watch.take();
        std::this_thread::sleep_for(kPollEvery);
    }
    watch.take();
    const std::int64_t loadEnd = watch.ledger().tally().lastAckUs.value_or(0);
    r.tally = watch.untilDelivered(loadEnd + static_cast<std::int64_t>(o.limitS * 1e6));
    r.ratePerS = endToEndRate(r.tally);
    checkCommonGoals(r, loadEnd, stage.gatewayRunning());
    addNotes(r, stage, o.limitS);
    stage.stopAll();
    return r;
}

// 200 trackers, each sending its next packet as soon as the previous one is acknowledged, 10 s.
Row flatOut(const BenchOptions& o, double ceiling)
{
    Row r = underLoad("flat-out", 200, {"--duration", "10"}, o, ceiling);
    if (r.ratePerS < kFlatOutGoalPerS)
        r.failures.push_back("delivered/s below " + fixed(kFlatOutGoalPerS));
    return r;
}

// The server away while 200 trackers send 10 000 records, then up: the drain.
Row drain(const BenchOptions& o, double ceiling)
{
    Row r{"drain", 200, {}, 0, ceiling, {}, {}};
    Stage stage(r.scenario, o.keep);
    if (!stage.ready() || !stage.startGateway()) {
        r.failures.push_back("could not start the gateway");
        return r;
    }
    stage.startTrackers(r.trackers, {"--count", "50"});
    if (!stage.trackersDone(300s)) {
        r.failures.push_back("the trackers did not finish within 300 s");
        stage.stopAll();
        return r;
    }
    const std::int64_t serverUp = tools::monotonicMicros();
    if (!stage.startServer()) {
        r.failures.push_back("could not start the server");
        return r;
    }
    Watch watch(stage);
    r.tally = watch.untilDelivered(serverUp + static_cast<std::int64_t>(o.limitS * 1e6));
    const Tally& t = r.tally;
    // The brief's figure: from the server's start, reconnect wait included.
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
Row reconnect(const BenchOptions& o, double ceiling)
{
    constexpr std::size_t kTrackers = 2000, kRecords = 50;
    Row r = underLoad("reconnect", kTrackers, {"--count", std::to_string(kRecords)}, o, ceiling);
    if (r.tally.acked < kTrackers * kRecords)
        r.notes.push_back(std::to_string(kTrackers * kRecords - r.tally.acked) +
                          " records never acknowledged");
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    BenchOptions o;
    std::string error =
        tools::readOptions(benchDefinitions(), std::vector<std::string>(argv + 1, argv + argc), o);
    if (auto status = tools::answerCommandLine("load_bench", error, o.help, o.version, kUsage))
        return *status;
    // Thousands of tracker connections on both sides of loopback; children inherit the limit.
    platform::raiseOpenFileLimit();

    struct Scenario
    {
        const char* name;
        Row (*run)(const BenchOptions&, double);
    };
    const Scenario scenarios[] = {
        {"flat-out", flatOut}, {"drain", drain}, {"reconnect", reconnect}};
    printHeader();
    bool allPassed = true;
    for (const Scenario& s : scenarios) {
        if (o.scenario != "all" && o.scenario != s.name)
            continue;
        Row r = s.run(o, measureCeiling(o.ceilingS, o.keep));
        printRow(r);
        allPassed = allPassed && r.failures.empty();
    }
    return allPassed ? 0 : 1;
}
