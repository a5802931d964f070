// fuzz/PositionJson.h: a strict check of the position messages the dispatcher writes: valid
// JSON, and exactly the object shape the gateway promises the message server.
#pragma once

#include <string>
#include <string_view>

#include "platform/Bytes.h"

namespace fuzz {

inline constexpr std::string_view kPositionBeginning = R"({"$c$":"gps","type":"gt20v5","imei":")";

struct PositionCheck
{
    std::string problem;  // empty when the text is a well-formed position message
    platform::Bytes imei; // the IMEI characters, escapes undone
};

// The text must be one JSON object written without blanks: the fixed beginning, an IMEI string
// of 15 characters, then members of the decoded fields in any order and number: "lat" and "lon"
// as numbers with six decimals, "time" as a string "dd.MM.yyyy" or "dd.MM.yyyy H:mm:ss", and
// "alt", "course", "speed" (0..65535), "hdop" and "sat" (0..255) as whole numbers. Strings
// follow the JSON grammar (no raw control characters, only the escapes it defines); bytes above
// 0x7F are taken as single-byte characters, as the link carries them.
PositionCheck checkPositionMessage(std::string_view text);

} // namespace fuzz
