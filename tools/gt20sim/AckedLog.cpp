// tools/gt20sim/AckedLog.cpp
#include "tools/gt20sim/AckedLog.h"

namespace gt20sim {

std::string ackedLines(const std::string& imei, const std::vector<std::uint32_t>& times)
{
    std::string out;
    for (std::uint32_t t : times)
        out += imei + ' ' + std::to_string(t) + '\n';
    return out;
}

AckedLog::~AckedLog()
{
    if (m_file)
        std::fclose(m_file);
}

bool AckedLog::open(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "a");
    return m_file != nullptr;
}

void AckedLog::append(const std::string& imei, const std::vector<std::uint32_t>& times)
{
    std::string lines = ackedLines(imei, times);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file)
        return;
    std::fwrite(lines.data(), 1, lines.size(), m_file);
    std::fflush(m_file);
}

} // namespace gt20sim
