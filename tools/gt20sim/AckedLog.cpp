// tools/gt20sim/AckedLog.cpp
#include "tools/gt20sim/AckedLog.h"

#include "platform/Formats.h"

namespace gt20sim {

std::string ackedLines(const std::string& imei, const std::vector<std::uint32_t>& times,
                       std::int64_t ackedAtUs)
{
    // Appended piece by piece: GCC 12 at -O3 warns falsely about a char added before a string.
    const std::string at = std::to_string(ackedAtUs);
    std::string out;
    for (std::uint32_t t : times) {
        out += imei;
        out += ' ';
        out += std::to_string(t);
        out += ' ';
        out += at;
        out += '\n';
    }
    return out;
}

std::string messageTimeText(std::uint32_t seconds)
{
    std::tm t = platform::calendarFromEpoch(seconds);
    std::string text = platform::shortDate(t);
    if (seconds % 86400 != 0) {
        text += ' ';
        text += platform::longTime(t);
    }
    return text;
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

void AckedLog::append(const std::string& imei, const std::vector<std::uint32_t>& times,
                      std::int64_t ackedAtUs)
{
    std::string lines = ackedLines(imei, times, ackedAtUs);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file)
        return;
    std::fwrite(lines.data(), 1, lines.size(), m_file);
    std::fflush(m_file);
}

} // namespace gt20sim
