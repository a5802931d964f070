// tests/app/EventPrinterTest.cpp: event lines on a pipe, and on a pipe whose reader has gone.
#include "app/EventPrinter.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

class EventPrinterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // As the program runs: a write to a closed pipe fails instead of ending the process.
        m_oldPipe = std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(0, ::pipe2(m_fds, O_CLOEXEC));
        m_out = ::fdopen(m_fds[1], "w");
        ASSERT_NE(nullptr, m_out);
    }
    void TearDown() override
    {
        if (m_out)
            std::fclose(m_out);
        if (m_fds[0] >= 0)
            ::close(m_fds[0]);
        std::signal(SIGPIPE, m_oldPipe);
    }

    std::string readSome()
    {
        char buf[256];
        ssize_t n = ::read(m_fds[0], buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }

    int m_fds[2] = {-1, -1};
    std::FILE* m_out = nullptr;
    void (*m_oldPipe)(int) = SIG_DFL;
};

} // namespace

TEST_F(EventPrinterTest, EachLineArrivesWholeAndAtOnce)
{
    app::EventPrinter printer(m_out);
    EXPECT_TRUE(printer.print("09.12.2026 9:51:34 Соединение..."));
    EXPECT_EQ("09.12.2026 9:51:34 Соединение...\n", readSome());
    EXPECT_FALSE(printer.stopped());
}

TEST_F(EventPrinterTest, ClosedReaderStopsThePrintingOnceAndSaysWhy)
{
    std::vector<std::string> told;
    app::EventPrinter printer(m_out, [&](const std::string& why) { told.push_back(why); });
    ASSERT_TRUE(printer.print("first"));
    ::close(m_fds[0]); // the reader ("head -1") has gone
    m_fds[0] = -1;
    EXPECT_FALSE(printer.print("second"));
    EXPECT_TRUE(printer.stopped());
    EXPECT_FALSE(printer.print("third"));
    ASSERT_EQ(1u, told.size());
    EXPECT_NE(std::string::npos, told[0].find("Broken pipe"));
}
