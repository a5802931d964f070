// tests/backlog/StoreFixture.h: a backlog store in a scratch directory, with helpers that lay
// out index and data files by hand and drain the store the way the client does.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backlog/BacklogStore.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/TempDir.h"

class StoreFixture : public ::testing::Test
{
protected:
    using Bytes = backlog::Bytes;
    static constexpr std::uint32_t kData = 0x022000C7;

    void SetUp() override { ASSERT_FALSE(m_dir.path().empty()); }

    // A new store object on the scratch directory, opened.
    backlog::BacklogStore& open()
    {
        m_store.reset(); // the index stays locked while a store has it open
        m_store = std::make_unique<backlog::BacklogStore>(m_dir.path());
        m_store->setSubdirectoryName(backlog::kStoreDirectory);
        EXPECT_TRUE(m_store->open());
        return *m_store;
    }

    // oldest the way the tests read it: the status must be ok; true with code and body when
    // the oldest record is whole.
    static bool peekFrom(backlog::BacklogStore& store, std::uint32_t& code, Bytes& body)
    {
        backlog::BacklogStore::Oldest p = store.oldest();
        EXPECT_TRUE(p.status) << p.status.text();
        code = p.code;
        body = p.body;
        return p.good;
    }

    // The oldest record's body, which must be whole.
    static Bytes oldestBody(backlog::BacklogStore& store)
    {
        std::uint32_t code = 0;
        Bytes body;
        EXPECT_TRUE(peekFrom(store, code, body)) << "the oldest record is not whole";
        return body;
    }

    std::string path(const std::string& name) const { return m_dir.file("dd8/" + name); }
    std::string data(int n) const { return "bs" + std::to_string(n) + ".dat"; }
    bool exists(const std::string& name) const { return std::ifstream(path(name)).good(); }
    Bytes read(const std::string& name) const
    {
        std::string s = m_dir.read("dd8/" + name);
        return Bytes(s.begin(), s.end());
    }

    // Closes the store first: nobody writes the files behind an open store's back.
    void write(const std::string& name, const Bytes& bytes)
    {
        m_store.reset();
        std::filesystem::create_directories(m_dir.file("dd8"));
        std::ofstream(path(name), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    static Bytes index(std::int32_t count, std::int32_t readN, std::int32_t writeN,
                       std::uint32_t signature = 0x0FEEFFFF)
    {
        Bytes b;
        for (auto v : {static_cast<std::int32_t>(signature), count, readN, writeN})
            for (int i = 0; i < 4; ++i)
                b.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
        return b;
    }

    static Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

    static Bytes records(std::initializer_list<std::string> bodies)
    {
        Bytes out;
        for (const std::string& b : bodies) {
            Bytes r = backlog::encodeRecord(kData, text(b));
            out.insert(out.end(), r.begin(), r.end());
        }
        return out;
    }

    static Bytes cat(std::initializer_list<Bytes> parts)
    {
        Bytes out;
        for (const Bytes& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    // What the client's backlog step does, until Count says empty: the bodies of the good
    // records in the order they came, and how many damaged ones were dropped.
    std::vector<std::string> drain(int* damaged = nullptr, int maxSteps = 10000)
    {
        std::vector<std::string> bodies;
        int bad = 0;
        for (int i = 0; i < maxSteps && m_store->pendingCount() > 0; ++i) {
            std::uint32_t code = 0;
            Bytes body;
            if (peekFrom(*m_store, code, body))
                bodies.emplace_back(body.begin(), body.end());
            else
                ++bad;
            EXPECT_TRUE(m_store->takeOldest());
        }
        EXPECT_EQ(0, m_store->pendingCount()) << "drain did not finish";
        if (damaged)
            *damaged = bad;
        return bodies;
    }

    fakes::TempDir m_dir;
    std::unique_ptr<backlog::BacklogStore> m_store;
};
