// backlog/RecordFormat.h: the layout of the backlog's index and data files, and how the oldest
// record is found in a data file's bytes, damaged or not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Bytes.h"

namespace backlog {

using platform::Bytes;

// Index file backsoob.dat: signature, Count, read number, write number; 32-bit little-endian.
inline constexpr std::size_t kIndexSize = 16;
inline constexpr std::uint32_t kSignature = 0x0FEEFFFF;
inline constexpr std::uint64_t kCountOffset = 4;
inline constexpr std::uint64_t kReadNumberOffset = 8;
inline constexpr std::uint64_t kWriteNumberOffset = 12;

// Data file record: FF FF, code (32), body length L (signed 32), L body bytes, FE FF. Offsets
// from the start marker.
inline constexpr std::size_t kCodeOffset = 2;
inline constexpr std::size_t kLengthOffset = 6;
inline constexpr std::size_t kBodyOffset = 10;
inline constexpr std::size_t kEndMarkerSize = 2;
inline constexpr std::size_t kRecordOverhead = kBodyOffset + kEndMarkerSize;
inline constexpr std::uint8_t kStartByte = 0xFF; // the start marker is two of them
inline constexpr std::uint8_t kEndFirstByte = 0xFE;
inline constexpr std::uint8_t kEndSecondByte = 0xFF;

// A data file longer than this gets no more records; one of exactly this size still does.
inline constexpr std::uint64_t kDataFileLimit = 1'000'000;

Bytes encodeRecord(std::uint32_t code, const Bytes& body);

// The oldest record of a data file, found from the start of the given bytes.
//
// The start marker is the first FF FF pair. When the byte before it is FE and the byte after
// it FF, the pair is the tail of an end marker followed by the first half of the start marker,
// so the record begins one byte later.
//
// Good: the body length is 0 or more, and the body and an FE FF end marker lie within the file.
// Damaged: anything else once a start marker is found. A damaged record reaches to the start
// marker of the next good record, or to the end of the file; so removing it never takes a good
// record with it, and every damaged stretch is taken as one record.
// None: the bytes hold no start marker at all (an empty file included).
// NeedMore: the answer depends on bytes beyond those given.
struct HeadRecord
{
    enum class Kind
    {
        None,
        Good,
        Damaged,
        NeedMore
    } kind = Kind::None;
    std::uint32_t code = 0;     // as read; 0 when the record ends before its code
    std::size_t bodyOffset = 0; // Good only
    std::size_t bodyLength = 0; // Good only
    std::uint64_t end = 0;      // where the records after this one begin
};

// available bytes of a data file that is fileSize bytes long (available <= fileSize).
HeadRecord findHeadRecord(const std::uint8_t* data, std::size_t available, std::uint64_t fileSize);

// How many records removing the oldest one at a time takes from a whole data file, damaged
// records included.
std::int64_t countRecords(const Bytes& file);

// A whole data file read from the front, as the store sees it when it opens.
struct FileScan
{
    std::int64_t records = 0;       // up to wholeEnd, damaged stretches counted as one each
    std::int64_t damaged = 0;       // of them, the damaged stretches
    std::int64_t leadingUnsent = 0; // how many of them at the front carry code 0 (taken away)
    std::uint64_t leadingEnd = 0;   // where the first record after those begins
    // Where the last good record ends. Bytes after it hold no good record: a record cut off by
    // a crash in the middle of an append, or stray bytes. The next append goes here.
    std::uint64_t wholeEnd = 0;
};
FileScan scanFile(const std::uint8_t* data, std::size_t size);

} // namespace backlog
