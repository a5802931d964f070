// fuzz/FuzzCheck.h: what every fuzz target shares: a property check that stops the run with a
// clear message, the input read front to back, and a scratch directory for targets that write
// files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Bytes.h"

namespace fuzz {

// Prints "property failed: <what>" and aborts, so libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const std::string& what)
{
    std::fprintf(stderr, "property failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// Stops the run unless holds; what, the message, is built only when the property failed (the
// targets run millions of times).
#define FUZZ_CHECK(holds, what)                                                                    \
    do {                                                                                           \
        if (!(holds))                                                                              \
            ::fuzz::fail(what);                                                                    \
    } while (false)

// The fuzz input, taken from the front. Past the end every byte reads 0 and every run of bytes is
// cut short, so a target never reads outside the input and always comes to an end.
class Input
{
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    std::size_t remaining() const { return m_size - m_pos; }

    std::uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }

    std::uint16_t u16()
    {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | byte() << 8);
    }

    // Up to count bytes.
    platform::Bytes bytes(std::size_t count)
    {
        const std::size_t n = count < remaining() ? count : remaining();
        platform::Bytes out(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return out;
    }

    // A length-prefixed run: a 16-bit little-endian length, then up to that many bytes.
    platform::Bytes chunk() { return bytes(u16()); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A directory of this process for files a target writes, in memory where there is /dev/shm;
// removed with everything in it when the process ends.
const std::string& scratchDirectory();

// Removes everything in directory, leaving the directory itself.
void emptyDirectory(const std::string& directory);

// The whole file; empty when it cannot be read.
platform::Bytes readFile(const std::string& path);

// Writes bytes to path, replacing the file.
void writeFile(const std::string& path, const platform::Bytes& bytes);

// Hex of bytes, for messages: "04 04 00 01".
std::string hex(const std::uint8_t* data, std::size_t size);

} // namespace fuzz
