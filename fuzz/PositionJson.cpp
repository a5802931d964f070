// fuzz/PositionJson.cpp
#include "fuzz/PositionJson.h"

#include <cstdint>
#include <string_view>

namespace fuzz {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the text left to right; the first problem found stops everything.
class Reader
{
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    bool failed() const { return !m_problem.empty(); }
    const std::string& problem() const { return m_problem; }
    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }

    void fail(const std::string& what)
    {
        if (m_problem.empty())
            m_problem = what + " at offset " + std::to_string(m_pos);
    }

    bool take(char c)
    {
        if (peek() != c) {
            fail(std::string("expected '") + c + "'");
            return false;
        }
        ++m_pos;
        return true;
    }

    bool skip(std::string_view s)
    {
        if (m_text.substr(m_pos, s.size()) != s) {
            fail("expected " + std::string(s));
            return false;
        }
        m_pos += s.size();
        return true;
    }

    // The inside of a JSON string after its opening quote, up to and with the closing quote.
    // Characters are collected as bytes; \u escapes above 0xFF are kept as '?'.
    bool stringBody(platform::Bytes& out)
    {
        for (;;) {
            if (atEnd()) {
                fail("unterminated string");
                return false;
            }
            const auto c = static_cast<unsigned char>(m_text[m_pos++]);
            if (c == '"')
                return true;
            if (c < 0x20) {
                fail("raw control character in a string");
                return false;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (!escape(out))
                return false;
        }
    }

    // Digits without a leading zero (a lone 0 is fine); the value, or -1 when there are none.
    std::int64_t wholeNumber()
    {
        const std::size_t start = m_pos;
        std::int64_t v = 0;
        while (isDigit(peek()) && m_pos - start < 12)
            v = v * 10 + (m_text[m_pos++] - '0');
        if (m_pos == start) {
            fail("expected a digit");
            return -1;
        }
        if (isDigit(peek()) || (m_pos - start > 1 && m_text[start] == '0')) {
            fail("malformed number");
            return -1;
        }
        return v;
    }

    // Exactly count digits; the value, or -1.
    int fixedDigits(std::size_t count)
    {
        int v = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!isDigit(peek())) {
                fail("expected a digit");
                return -1;
            }
            v = v * 10 + (m_text[m_pos++] - '0');
        }
        return v;
    }

private:
    bool escape(platform::Bytes& out)
    {
        const char e = peek();
        ++m_pos;
        // Each one-letter escape, and at the same place the character it stands for.
        constexpr std::string_view kLetters = "\"\\/bfnrt";
        constexpr std::string_view kMeanings = "\"\\/\b\f\n\r\t";
        static_assert(kLetters.size() == kMeanings.size());
        if (const auto at = kLetters.find(e); at != std::string_view::npos) {
            out.push_back(static_cast<std::uint8_t>(kMeanings[at]));
            return true;
        }
        if (e != 'u') {
            fail("unknown escape");
            return false;
        }
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hexValue(peek());
            if (h < 0) {
                fail("malformed \\u escape");
                return false;
            }
            v = v * 16 + h;
            ++m_pos;
        }
        out.push_back(v <= 0xFF ? static_cast<std::uint8_t>(v) : '?');
        return true;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    std::string m_problem;
};

void checkMillionths(Reader& r)
{
    if (r.wholeNumber() < 0 || !r.take('.'))
        return;
    r.fixedDigits(6);
    if (isDigit(r.peek()))
        r.fail("more than six decimals");
}

void checkWhole(Reader& r, std::int64_t max)
{
    const std::int64_t v = r.wholeNumber();
    if (v > max)
        r.fail("number above " + std::to_string(max));
}

void checkTime(Reader& r)
{
    if (!r.take('"'))
        return;
    const int day = r.fixedDigits(2);
    r.take('.');
    const int month = r.fixedDigits(2);
    r.take('.');
    const int year = r.fixedDigits(4);
    if (r.failed())
        return;
    if (day < 1 || day > 31 || month < 1 || month > 12 || year < 1970)
        r.fail("date out of range");
    if (r.peek() == ' ') {
        r.take(' ');
        const std::int64_t hour = r.wholeNumber();
        r.take(':');
        const int minute = r.fixedDigits(2);
        r.take(':');
        const int second = r.fixedDigits(2);
        if (!r.failed() && (hour > 23 || minute > 59 || second > 59))
            r.fail("time of day out of range");
    }
    r.take('"');
}

void checkMember(Reader& r)
{
    platform::Bytes name;
    if (!r.take('"') || !r.stringBody(name) || !r.take(':'))
        return;
    const std::string n(name.begin(), name.end());
    if (n == "lat" || n == "lon")
        checkMillionths(r);
    else if (n == "time")
        checkTime(r);
    else if (n == "alt" || n == "course" || n == "speed")
        checkWhole(r, 65535);
    else if (n == "hdop" || n == "sat")
        checkWhole(r, 255);
    else
        r.fail("unknown member \"" + n + "\"");
}

} // namespace

PositionCheck checkPositionMessage(std::string_view text)
{
    PositionCheck result;
    Reader r(text);
    if (r.skip(kPositionBeginning) && r.stringBody(result.imei) && result.imei.size() != 15)
        r.fail("IMEI of " + std::to_string(result.imei.size()) + " characters");
    while (!r.failed() && r.peek() == ',') {
        r.take(',');
        checkMember(r);
    }
    if (!r.failed() && r.take('}') && !r.atEnd())
        r.fail("text after the object");
    result.problem = r.problem();
    return result;
}

} // namespace fuzz
