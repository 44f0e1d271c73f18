#pragma once
// Text brought from other platforms: settings files written there are 8-bit Windows-1252, ours
// are UTF-8. A line that is not valid UTF-8 can only be the older form.
#include <cstddef>
#include <string>
#include <string_view>

bool IsValidUtf8(std::string_view text);
// Bytes of the UTF-8 sequence that starts at text[i] (i < size), 0 when none valid starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);
// Each byte as its Windows-1252 character, in UTF-8; the five unassigned bytes stay U+0080 … U+009F.
std::string Cp1252ToUtf8(std::string_view text);
// Line by line (CR and LF kept as they are): valid UTF-8 lines unchanged, others from Windows-1252.
std::string LegacyLinesToUtf8(std::string_view text);
