// fuzz/record_reader.cpp: the backlog's record reader over the bytes of a data file.
//
// Input: a 16-bit count of the bytes on hand, then the file. The reader is asked about the
// first min(count, size) bytes of the file, as the store asks while it reads a file piece by
// piece, and about the whole file.
//
// Properties: a record found lies within the bytes given, with its markers, code and length
// where the format puts them; the answer from fewer bytes is the answer from the whole file
// unless it asks for more; a file scan counts no more records than the file holds; cutting the
// file where the scan says the last whole record ends keeps every whole record; and a record
// appended there is read back whole, as the next append of the store would be.
#include <algorithm>
#include <cstdint>
#include <string>

#include "backlog/RecordFormat.h"
#include "fuzz/FuzzCheck.h"

namespace {

using backlog::Bytes;
using backlog::FileScan;
using backlog::HeadRecord;
using Kind = HeadRecord::Kind;

std::string kindName(Kind k)
{
    switch (k) {
    case Kind::None:
        return "None";
    case Kind::Good:
        return "Good";
    case Kind::Damaged:
        return "Damaged";
    case Kind::NeedMore:
        return "NeedMore";
    }
    return "?";
}

void checkHead(const HeadRecord& r, const Bytes& file, std::size_t available)
{
    const std::string at =
        " (" + std::to_string(available) + " of " + std::to_string(file.size()) + " bytes)";
    const bool whole = available == file.size();
    switch (r.kind) {
    case Kind::Good: {
        const std::size_t start = r.bodyOffset - 10;
        FUZZ_CHECK(r.bodyOffset >= 10 && r.end == r.bodyOffset + r.bodyLength + 2 &&
                       r.end <= available,
                   "a good record outside the bytes given" + at);
        FUZZ_CHECK(file[start] == 0xFF && file[start + 1] == 0xFF &&
                       platform::readU32(&file[start + 2]) == r.code &&
                       platform::readU32(&file[start + 6]) == r.bodyLength &&
                       file[r.end - 2] == 0xFE && file[r.end - 1] == 0xFF,
                   "a good record without its markers, code or length" + at);
        return;
    }
    case Kind::Damaged:
        FUZZ_CHECK(r.end > 0 && r.end <= file.size(), "a damaged stretch outside the file" + at);
        FUZZ_CHECK(whole || r.end <= available, "a damaged stretch past the bytes given" + at);
        return;
    case Kind::None:
        FUZZ_CHECK(whole, "no record said of a part of the file" + at);
        FUZZ_CHECK(std::adjacent_find(file.begin(), file.end(),
                                      [](auto a, auto b) { return a == 0xFF && b == 0xFF; }) ==
                       file.end(),
                   "no record said of a file with a start marker" + at);
        return;
    case Kind::NeedMore:
        FUZZ_CHECK(!whole, "more bytes asked for than the file has" + at);
        return;
    }
}

bool same(const HeadRecord& a, const HeadRecord& b)
{
    return a.kind == b.kind && a.code == b.code && a.bodyOffset == b.bodyOffset &&
           a.bodyLength == b.bodyLength && a.end == b.end;
}

bool same(const FileScan& a, const FileScan& b)
{
    return a.records == b.records && a.leadingUnsent == b.leadingUnsent &&
           a.leadingEnd == b.leadingEnd && a.wholeEnd == b.wholeEnd;
}

void checkScan(const Bytes& file)
{
    const FileScan scan = backlog::scanFile(file.data(), file.size());
    const std::int64_t count = backlog::countRecords(file);
    FUZZ_CHECK(scan.records >= 0 && scan.records <= count && scan.leadingUnsent <= scan.records,
               "scan counts " + std::to_string(scan.records) + " records, the file holds " +
                   std::to_string(count));
    FUZZ_CHECK(scan.leadingEnd <= scan.wholeEnd && scan.wholeEnd <= file.size(),
               "scan ends outside the file");

    // The store cuts the write file there when it opens, and appends there.
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(scan.wholeEnd));
    FUZZ_CHECK(same(backlog::scanFile(cut.data(), cut.size()), scan),
               "cutting the file after its last whole record changed what it holds");
    const Bytes body(file.begin(),
                     file.begin() +
                         std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(file.size()), 40));
    // A file with a damaged stretch gets no more appends (the store starts a new file): the
    // stretch's length could point at an appended end marker.
    if (scan.damaged > 0)
        return;
    Bytes appended = cut;
    const Bytes record = backlog::encodeRecord(0x022000C7, body);
    appended.insert(appended.end(), record.begin(), record.end());
    const FileScan after = backlog::scanFile(appended.data(), appended.size());
    FUZZ_CHECK(after.records == scan.records + 1 && after.wholeEnd == appended.size(),
               "a record appended after the last whole one is not read back whole");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::size_t count = in.u16();
    const Bytes file = in.bytes(in.remaining());
    const std::size_t available = std::min(count, file.size());

    const HeadRecord whole = backlog::findHeadRecord(file.data(), file.size(), file.size());
    checkHead(whole, file, file.size());
    const HeadRecord part = backlog::findHeadRecord(file.data(), available, file.size());
    checkHead(part, file, available);
    FUZZ_CHECK(part.kind == Kind::NeedMore || same(part, whole),
               "the first " + std::to_string(available) + " bytes give " + kindName(part.kind) +
                   ", the whole file " + kindName(whole.kind));
    checkScan(file);
    return 0;
}
