// The texts of the newer features, sent as bytes of UTF-8 (or UCS-2)
// rather than in the RDS character set: enhanced radiotext (eRT, open data
// application 0x6552, up to 128 bytes in 32 segments of four) and the long
// PS of group 15A (32 bytes of UTF-8 in eight segments of four). Either
// ends early with the end code 0x0D.
#pragma once

#include <cstddef>
#include <string>

#include "text_confidence.h"

namespace rdsformats {

inline constexpr std::size_t kErtBytes = 128;
inline constexpr std::size_t kLongPsBytes = 32;

// A wide text as shown: UTF-8, and per character its state ('c'
// confirmed, 'p' provisional, '-' missing), as for ConfidentText::mask.
struct WideText {
    std::string text;
    std::string mask;
};

// Decodes bytes 0..length() of `t`: UTF-8, or UCS-2 big-endian when
// `ucs2`. A character takes the lowest state of its bytes; a missing
// character shows as a space, bytes that are no valid character as U+FFFD.
// Trailing spaces of the text are dropped with their mask.
WideText DecodeWideText(const ConfidentText& t, bool ucs2);

// Whether the message bits of the eRT announcement (3A block C) signal
// UTF-8 (bit 0 set) rather than UCS-2.
inline bool ErtIsUtf8(unsigned message) { return (message & 1) != 0; }

}  // namespace rdsformats
