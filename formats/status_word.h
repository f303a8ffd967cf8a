// The status word the decoder returns for every bit or byte it is fed (the
// low 16 bits of the result), read by its fields:
//
//   bits 15..12 sequence: 0 a group was just decoded, 1 otherwise
//   bits 11..8  sync:     0 synchronised, 1 automatic reset, 2 searching, 3 lost
//   bits  7..4  check:    0 correct, 1 no check at this bit, 2 repaired, 3 unrepairable
//   bits  3..0  block:    1 A, 2 B, 3 C, 4 C', 0 D, 5 none
//
// A field may hold a value outside its list; the accessors hand it over as
// it is, so that a reader can leave such values alone.
#pragma once

#include <cstdint>

#include "murlin.h"

namespace rdsformats {

class StatusWord {
public:
    enum Sync { kSynchronised = 0, kAutoReset = 1, kSearching = 2, kLost = 3 };
    enum Check { kCorrect = 0, kNotChecked = 1, kRepaired = 2, kFailed = 3 };
    static constexpr int kNoBlock = 5;  // block code: no block at this bit

    constexpr explicit StatusWord(uint16_t word) : word_(word) {}

    constexpr uint16_t word() const { return word_; }
    // Nothing happened at this bit.
    constexpr bool nothing() const { return word_ == MURLIN_STATUS_NONE; }

    constexpr int sequence() const { return word_ >> 12; }
    constexpr int sync() const { return (word_ >> 8) & 0xF; }
    constexpr int check() const { return (word_ >> 4) & 0xF; }
    constexpr int blockCode() const { return word_ & 0xF; }

    // A complete group waits to be read back.
    constexpr bool groupDecoded() const { return sequence() == 0; }
    constexpr bool autoReset() const { return sync() == kAutoReset; }
    // The block passed its check, as it came or repaired: its word counts.
    constexpr bool blockUsable() const { return check() == kCorrect || check() == kRepaired; }
    // The block code is one of the listed ones (a block, or none).
    constexpr bool blockKnown() const { return blockCode() <= kNoBlock; }
    // The block's place in its group: 0 A, 1 B, 2 C or C', 3 D; -1 for no
    // block or a code outside the list.
    constexpr int blockIndex() const
    {
        constexpr int kIndexOfCode[kNoBlock + 1] = {3, 0, 1, 2, 2, -1};
        return blockKnown() ? kIndexOfCode[blockCode()] : -1;
    }

private:
    uint16_t word_;
};

}  // namespace rdsformats
