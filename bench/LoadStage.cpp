// bench/LoadStage.cpp
#include "bench/LoadStage.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "tests/fakes/TrackerClient.h"

using namespace std::chrono_literals;
using fakes::Process;

namespace loadbench {

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

Stage::Stage(const std::string& name, bool keep) : m_keep(keep)
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("gpsbridge-load-" + name + "-XXXXXX")).string();
    m_dir = ::mkdtemp(pattern.data()) ? pattern : std::string();
    m_trackerPort = fakes::freeLoopbackPort();
    do
        m_serverPort = fakes::freeLoopbackPort();
    while (m_serverPort == m_trackerPort);
    std::ofstream(file("gpsbridge.ini"))
        << "[main]\nDefaultPort=" << m_trackerPort << "\n[ServerHost]\nAddress=127.0.0.1\n"
        << "Port=" << m_serverPort << "\n";
}

Stage::~Stage()
{
    if (m_keep) {
        std::fprintf(stderr, "load_bench: kept %s\n", m_dir.c_str());
    } else {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

bool Stage::startServer()
{
    m_server = std::make_unique<Process>(
        MSGSERVER_BINARY,
        std::vector<std::string>{"--port", std::to_string(m_serverPort), "--stamp"}, m_dir,
        file("server.out"), file("server.err"));
    return says("server.err", "listening", 10s);
}

bool Stage::startGateway(const GatewayUnderTest& gateway)
{
    std::vector<std::string> args{"--headless"};
    if (gateway.standIn)
        args = {"--port", std::to_string(m_trackerPort), "--server-port",
                std::to_string(m_serverPort)};
    m_gateway = std::make_unique<Process>(gateway.binary, args, m_dir, file("gateway.out"),
                                          file("gateway.err"));
    return says("gateway.err", "listening on tracker port", 20s);
}

bool Stage::gatewayLoggedIn() const
{
    return says("server.err", "sent login accepted", 20s);
}

std::optional<pid_t> Stage::gatewayPid() const
{
    if (!m_gateway)
        return std::nullopt;
    return m_gateway->pid();
}

void Stage::startTrackers(std::size_t trackers, std::size_t records, const std::string& intervalS,
                          const std::vector<std::string>& amount)
{
    std::vector<std::string> args{"--port",     std::to_string(m_trackerPort),
                                  "--trackers", std::to_string(trackers),
                                  "--records",  std::to_string(records),
                                  "--interval", intervalS,
                                  "--acked",    file("acked.txt"),
                                  "--seed",     "1",
                                  "--quiet"};
    args.insert(args.end(), amount.begin(), amount.end());
    m_trackers =
        std::make_unique<Process>(GT20SIM_BINARY, args, m_dir, file("sim.out"), file("sim.err"));
}

bool Stage::trackersDone(std::chrono::seconds limit)
{
    if (!m_trackers)
        return true;
    m_trackers->wait(limit);
    return !m_trackers->running();
}

void Stage::stopAll()
{
    for (auto* p : {&m_trackers, &m_gateway, &m_server})
        if (*p)
            (*p)->stop(15s);
}

std::string Stage::trackersSummary(const std::string& name) const
{
    std::istringstream summary(readFile(file("sim.out")));
    for (std::string line; std::getline(summary, line);)
        if (line.compare(0, name.size() + 1, name + " ") == 0)
            return line.substr(name.size() + 1);
    return {};
}

bool Stage::says(const std::string& name, const std::string& text, std::chrono::seconds limit) const
{
    return waitUntil([&] { return readFile(file(name)).find(text) != std::string::npos; }, limit);
}

} // namespace loadbench
