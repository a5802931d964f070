// tests/link/OutboxTest.cpp: records count as durable only through a sync that worked, and only
// for what was stored before it began.
#include "link/Outbox.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "tests/fakes/FakeClock.h"
#include "tests/fakes/FakeLinkView.h"
#include "tests/fakes/FaultyFileSystem.h"
#include "tests/fakes/TempDir.h"

TEST(OutboxTest, RecordsAreDurableOnlyAfterASyncThatWorked)
{
    fakes::TempDir dir;
    fakes::FaultyFileSystem files;
    fakes::FakeClock clock;
    fakes::FakeLinkView view;
    std::vector<std::uint64_t> durable;
    msglink::OutboxOptions options;
    options.commitThread = false;
    options.files = &files;
    options.onDurable = [&](std::uint64_t records) { durable.push_back(records); };
    msglink::Outbox outbox(view, clock, dir.path(), options);
    outbox.open();

    ASSERT_TRUE(outbox.storeMessage("a"));
    outbox.recordsStored(1);
    files.failSyncs(EIO);
    EXPECT_FALSE(outbox.commit());
    EXPECT_TRUE(durable.empty()); // written is not durable
    files.failSyncs(0);
    ASSERT_TRUE(outbox.storeMessage("b"));
    outbox.recordsStored(3); // record 2 had no message
    ASSERT_TRUE(outbox.commit());
    EXPECT_EQ(std::vector<std::uint64_t>{3}, durable); // one sync serves both
    EXPECT_TRUE(outbox.commit());
    EXPECT_EQ(1u, durable.size());                     // nothing new, nothing said
    EXPECT_EQ(1u, outbox.figures().writeErrors.get()); // the failed sync

    files.refuseChanges(ENOSPC);
    EXPECT_FALSE(outbox.storeMessage("c"));
    EXPECT_EQ(2u, outbox.figures().writeErrors.get());
}
