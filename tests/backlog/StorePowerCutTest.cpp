// tests/backlog/StorePowerCutTest.cpp: the power cut at any step of appending, taking, rolling
// over, deleting used-up files and starting the numbers over, with appends and takes going on
// while a sync flushes: every record a sync that returned ok covered comes back, unless a sync
// ran after it was taken; none that such a sync saw taken comes back.
#include "backlog/BacklogStore.h"

#include <algorithm>
#include <chrono>
#include <future>

#include <gtest/gtest.h>

#include "tests/fakes/PowerCutFileSystem.h"

namespace {

constexpr const char* kRoot = "/disk";

// One step of the run, in this order: maybe add a record of a million bytes (the write file is
// full: the next record starts a data file), add small records, take records, sync; while that
// sync flushes, another thread adds and takes.
struct Step
{
    bool big;
    int add, take, addWhileFlushing, takeWhileFlushing;
};

// Marks in bs0 while it is the write file, then while it is not; bs0 fills and bs1 starts; bs0
// used up and deleted; bs1 fills and bs2 starts, and bs1 is used up, while a sync flushes;
// everything taken, so the numbers start over at 0; everything taken again (bs0 emptied); bs0
// fills, and bs1 starts and bs0 is used up while a sync flushes; the next sync has nothing else
// to flush than what was done meanwhile.
const Step kRun[] = {
    {false, 3, 0, 0, 0}, {false, 0, 1, 0, 0}, {true, 1, 0, 0, 0},  {false, 2, 2, 2, 0},
    {false, 0, 2, 0, 0}, {true, 1, 0, 2, 3},  {false, 0, 1, 0, 3}, {false, 0, 1, 0, 0},
    {false, 2, 0, 0, 0}, {false, 0, 2, 0, 0}, {true, 0, 0, 2, 1},  {false, 0, 0, 0, 0},
    {false, 1, 1, 0, 0},
};

// A record's name: its body up to the first ';'.
std::string nameOf(const backlog::Bytes& body)
{
    return std::string(body.begin(), std::find(body.begin(), body.end(), ';'));
}

class PowerCutRun
{
public:
    explicit PowerCutRun(long cutBefore)
    {
        m_files.cutBefore(cutBefore);
        m_files.onFlush([this](const std::string& path) { flushing(path); });
        m_store = std::make_unique<backlog::BacklogStore>(kRoot, m_files);
        m_store->setSubdirectoryName(backlog::kStoreDirectory);
        if (m_store->open())
            for (const Step& step : kRun)
                play(step);
        m_files.cut(); // if it has not come yet
    }

    fakes::PowerCutFileSystem& files() { return m_files; }

    // What a new store opens with after the cut: the names of its records, in order.
    std::vector<std::string> afterCut()
    {
        m_files.onFlush(nullptr);
        m_store.reset(); // the dead store; whatever it still tries fails
        m_files.restart();
        backlog::BacklogStore store(kRoot, m_files);
        store.setSubdirectoryName(backlog::kStoreDirectory);
        const backlog::StoreStatus opened = store.open();
        EXPECT_TRUE(opened) << opened.text();
        std::vector<std::string> names;
        for (int i = 0; i < 100; ++i) {
            backlog::BacklogStore::Oldest p = store.oldest();
            EXPECT_TRUE(p.status && p.good == p.found) << p.status.text();
            if (!p.found || !store.takeOldest())
                break;
            names.push_back(nameOf(p.body));
        }
        return names;
    }

    // got holds stored records in their order (taken ones may be missing from between them):
    // none taken before the last sync to return ok was called, and every one stored before it
    // that no sync ran after taking.
    bool rightAfterCut(const std::vector<std::string>& got) const
    {
        std::size_t next = m_takenAtOk;
        for (const std::string& name : got) {
            auto at = std::find(m_stored.begin() + static_cast<std::ptrdiff_t>(next),
                                m_stored.end(), name);
            const auto i = static_cast<std::size_t>(at - m_stored.begin());
            if (at == m_stored.end() || std::max(next, m_takenAtLast) < std::min(i, m_storedAtOk))
                return false; // not stored after the last take that stays, or one skipped
            next = i + 1;
        }
        return std::max(next, m_takenAtLast) >= m_storedAtOk;
    }

private:
    void play(const Step& step)
    {
        addAndTake(step.big, step.add, step.take);
        m_duringFlush = {false, step.addWhileFlushing, step.takeWhileFlushing, 0, 0};
        const std::size_t stored = m_stored.size(), taken = m_taken;
        const long steps = m_files.steps();
        m_inSync = true;
        const bool ok = m_store->sync().isOk();
        m_inSync = false;
        if (m_helper.valid())
            m_helper.get();
        EXPECT_TRUE(!ok || m_files.isOff() || m_duringFlush.add + m_duringFlush.take == 0)
            << "the sync flushed nothing after the data files, so nothing went on meanwhile";
        if (m_files.steps() > steps) // it ran: takes till it ended may stay taken
            m_takenAtLast = m_taken;
        if (ok) {
            m_storedAtOk = stored;
            m_takenAtOk = taken;
        }
    }

    // Adds (a big record first, if asked), then takes.
    void addAndTake(bool big, int add, int take)
    {
        for (int i = big ? -1 : 0; i < add; ++i) {
            const std::string name = "r" + std::to_string(m_stored.size()) + ";";
            backlog::Bytes body(name.begin(), name.end());
            body.resize(body.size() + (i < 0 ? 1'000'000 : 20), 'x');
            if (m_store->append(0x022000C7, body))
                m_stored.push_back(name.substr(0, name.size() - 1));
        }
        for (int i = 0; i < take; ++i)
            if (m_store->oldest().found && m_store->takeOldest() && !m_files.isOff())
                ++m_taken; // a take after the cut is only in the dead store's memory
    }

    // Only a sync flushes. Once its data files are flushed, another thread adds and takes, which
    // a store holding its lock through the flush keeps waiting.
    void flushing(const std::string& path)
    {
        EXPECT_TRUE(m_inSync) << "an append or a take waited for the disk";
        if (path.find("/bs") != std::string::npos || m_helper.valid() ||
            m_duringFlush.add + m_duringFlush.take == 0 || ::testing::Test::HasFailure())
            return;
        const Step during = std::exchange(m_duringFlush, {});
        m_helper = std::async(std::launch::async,
                              [this, during] { addAndTake(false, during.add, during.take); });
        EXPECT_EQ(std::future_status::ready, m_helper.wait_for(std::chrono::seconds(10)))
            << "appends and takes waited for a sync's flush";
    }

    fakes::PowerCutFileSystem m_files{kRoot};
    std::unique_ptr<backlog::BacklogStore> m_store;
    std::vector<std::string> m_stored; // the records stored, in order
    std::size_t m_taken = 0;           // how many of them are taken
    // When the last sync that returned ok began: how many were stored and taken then; and how
    // many were taken when the last sync that did anything ended.
    std::size_t m_storedAtOk = 0, m_takenAtOk = 0, m_takenAtLast = 0;
    bool m_inSync = false;
    Step m_duringFlush{};
    std::future<void> m_helper; // adds and takes while a sync flushes
};

} // namespace

// The cut comes before each step of the run in turn: each change and each flush. The first run
// has no cut before its end, and counts the steps.
TEST(StorePowerCutTest, ACutLosesNothingSyncedAndBringsBackNothingSyncedAsTaken)
{
    long steps = 0;
    for (long cut = -1; cut < steps; ++cut) {
        PowerCutRun run(cut);
        if (cut < 0)
            steps = run.files().steps();
        const std::vector<std::string> got = run.afterCut();
        ASSERT_TRUE(run.rightAfterCut(got))
            << "cut before step " << cut << ": " << ::testing::PrintToString(got);
    }
}
