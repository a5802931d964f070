// tests/system/delivery_check.cpp: whether every record gt20sim saw acknowledged reached the test
// message server, for runs of the real programs outside a test binary (the Windows programs under
// Wine, tools/wine-system-test.sh). Waits while the gateway is still sending.
//
// delivery_check --acked FILE --received FILE [--received FILE ...] [--within SECONDS]
//                [--at-least N]
// FILE for --received is msgserver's output with --stamp. Exit status 0 when at least N records
// (default 1) were acknowledged and every one arrived within SECONDS (default 60); 1 when not;
// 2 on a bad command line.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/LoadLedger.h"

int main(int argc, char** argv)
{
    std::unique_ptr<loadbench::LineFollower> acked;
    std::vector<loadbench::LineFollower> received;
    long within = 60;
    std::size_t atLeast = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--acked")
            acked = std::make_unique<loadbench::LineFollower>(value);
        else if (option == "--received")
            received.emplace_back(value);
        else if (option == "--within")
            within = std::stol(value);
        else if (option == "--at-least")
            atLeast = std::stoul(value);
        else
            break;
    }
    if (!acked || received.empty() || argc % 2 == 0) {
        std::fputs("usage: delivery_check --acked FILE --received FILE... [--within SECONDS] "
                   "[--at-least N]\n",
                   stderr);
        return 2;
    }

    // The Windows programs end their lines with "\r\n".
    auto text = [](std::string line) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    };
    loadbench::Ledger ledger;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(within);
    for (;;) {
        for (const std::string& line : acked->newLines())
            if (auto s = loadbench::parseAckedLine(text(line)))
                ledger.acked(*s);
        for (loadbench::LineFollower& file : received)
            for (const std::string& line : file.newLines())
                if (auto s = loadbench::parseMessageLine(text(line)))
                    ledger.arrived(*s);
        if (ledger.allDelivered() || std::chrono::steady_clock::now() >= until)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const loadbench::Tally t = ledger.tally();
    std::printf("acknowledged %zu, delivered %zu, undelivered %zu, duplicates %zu\n", t.acked,
                t.delivered, t.undelivered, t.duplicates);
    if (t.acked < atLeast) {
        std::printf("fewer than %zu records acknowledged: nothing much was checked\n", atLeast);
        return 1;
    }
    return t.undelivered == 0 ? 0 : 1;
}
