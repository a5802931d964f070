// backlog/RecordFormat.cpp
#include "backlog/RecordFormat.h"

#include <algorithm>

namespace backlog {

namespace {

using Kind = HeadRecord::Kind;
using platform::appendU32;
using platform::readU32;

bool isStartMarker(const std::uint8_t* d, std::size_t n, std::size_t at)
{
    return at + 1 < n && d[at] == kStartByte && d[at + 1] == kStartByte;
}

// The record whose start marker is at offset marker. end is left for the caller when Damaged.
HeadRecord parseAt(const std::uint8_t* d, std::size_t n, std::uint64_t total, std::size_t marker)
{
    HeadRecord r;
    if (marker + kLengthOffset <= n)
        r.code = readU32(d + marker + kCodeOffset);
    const std::uint64_t body = marker + kBodyOffset;
    if (body > total) {
        r.kind = Kind::Damaged; // cut off inside its header
        return r;
    }
    if (body > n)
        return {Kind::NeedMore};
    auto length = static_cast<std::int32_t>(readU32(d + marker + kLengthOffset));
    // Negative, or running past the end of the file: the length is not to be trusted, and is
    // never used to size anything.
    if (length < 0 || body + static_cast<std::uint64_t>(length) + kEndMarkerSize > total) {
        r.kind = Kind::Damaged;
        return r;
    }
    const std::uint64_t endMarker = body + static_cast<std::uint64_t>(length);
    if (endMarker + kEndMarkerSize > n)
        return {Kind::NeedMore}; // it lies within the file, beyond the bytes given
    if (d[endMarker] != kEndFirstByte || d[endMarker + 1] != kEndSecondByte) {
        r.kind = Kind::Damaged;
        return r;
    }
    r.kind = Kind::Good;
    r.bodyOffset = static_cast<std::size_t>(body);
    r.bodyLength = static_cast<std::size_t>(length);
    r.end = endMarker + kEndMarkerSize;
    return r;
}

} // namespace

Bytes encodeRecord(std::uint32_t code, const Bytes& body)
{
    Bytes r;
    r.reserve(kRecordOverhead + body.size());
    r.push_back(kStartByte);
    r.push_back(kStartByte);
    appendU32(r, code);
    appendU32(r, static_cast<std::uint32_t>(body.size()));
    r.insert(r.end(), body.begin(), body.end());
    r.push_back(kEndFirstByte);
    r.push_back(kEndSecondByte);
    return r;
}

HeadRecord findHeadRecord(const std::uint8_t* d, std::size_t n, std::uint64_t total)
{
    const bool whole = n == total;
    std::size_t pair = 0;
    while (pair + 1 < n && !isStartMarker(d, n, pair))
        ++pair;
    if (pair + 1 >= n)
        return {whole ? Kind::None : Kind::NeedMore};

    std::size_t marker = pair;
    if (pair > 0 && d[pair - 1] == kEndFirstByte) {
        if (pair + 2 >= n && !whole)
            return {Kind::NeedMore};
        if (pair + 2 < n && d[pair + 2] == kStartByte)
            marker = pair + 1;
    }

    HeadRecord r = parseAt(d, n, total, marker);
    if (r.kind != Kind::Damaged)
        return r;
    // The damaged stretch ends where the next good record starts; to know where that is, the
    // whole rest of the file is needed.
    if (!whole)
        return {Kind::NeedMore};
    r.end = total;
    for (std::size_t s = marker + 1; s + 1 < n; ++s) {
        if (isStartMarker(d, n, s) && parseAt(d, n, total, s).kind == Kind::Good) {
            r.end = s;
            break;
        }
    }
    return r;
}

std::int64_t countRecords(const Bytes& file)
{
    std::int64_t count = 0;
    std::size_t pos = 0;
    while (pos < file.size()) {
        HeadRecord r = findHeadRecord(file.data() + pos, file.size() - pos, file.size() - pos);
        if (r.kind == Kind::None)
            break;
        ++count;
        pos += static_cast<std::size_t>(r.end);
    }
    return count;
}

FileScan scanFile(const std::uint8_t* data, std::size_t size)
{
    FileScan scan;
    bool leading = true;
    std::int64_t records = 0;
    std::size_t pos = 0;
    while (pos < size) {
        HeadRecord r = findHeadRecord(data + pos, size - pos, size - pos);
        // Nothing more, or a damaged stretch that reaches the end (no good record after it).
        if (r.kind == Kind::None || (r.kind == Kind::Damaged && r.end >= size - pos))
            break;
        pos += static_cast<std::size_t>(r.end);
        ++records;
        if (r.kind == Kind::Damaged)
            ++scan.damaged;
        if (leading && r.kind == Kind::Good && r.code == 0) {
            ++scan.leadingUnsent;
            scan.leadingEnd = pos;
        } else {
            leading = false;
        }
        if (r.kind == Kind::Good) {
            scan.records = records;
            scan.wholeEnd = pos;
        }
    }
    return scan;
}

} // namespace backlog
