#include "group_assembler.h"

namespace rdsformats {
namespace {

constexpr uint16_t kNothing = 0x1215;
// Slot of each block code of the status word: A 1, B 2, C 3, C' 4, D 0.
constexpr int kSlotOfBlock[6] = {3, 0, 1, 2, 2, -1};

}  // namespace

void GroupAssembler::open() {
    current_ = GroupRecord{};
    active_ = true;
}

bool GroupAssembler::close() {
    const bool keep = active_ && confirmed_ && current_.received != 0;
    if (keep) done_ = current_;
    active_ = false;
    return keep;
}

bool GroupAssembler::feed(uint16_t status, const uint16_t (&words)[4]) {
    if (status == kNothing) return false;
    const int sync = (status >> 8) & 0xF, check = (status >> 4) & 0xF, block = status & 0xF;
    if (sync == 1) {  // automatic reset: the decoder starts afresh
        const bool ended = close();
        confirmed_ = false;
        return ended;
    }
    if (check == 3) {
        // A block that failed: the one expected at this place.
        bool ended = false;
        if (active_ || confirmed_) {
            if (!active_) open();
            expected_ = (expected_ + 1) % 4;
            if (expected_ == 0) ended = close();
        }
        if (sync == 3) {  // synchronisation lost
            ended = close() || ended;
            confirmed_ = false;
        }
        return ended;
    }
    if (block > 4 || (check != 0 && check != 2)) return false;
    const int slot = kSlotOfBlock[block];
    bool ended = false;
    if (slot == 0) {
        ended = close();
        open();
        // A block A found while searching waits for block B to confirm it.
        if (sync == 2) confirmed_ = false;
    } else if (!active_) {
        if (!confirmed_) return false;
        open();
    }
    if (slot == 1 && sync == 0) confirmed_ = true;
    current_.blocks[slot] = words[slot];
    current_.received |= static_cast<uint8_t>(1u << slot);
    if (check == 2) current_.repaired |= static_cast<uint8_t>(1u << slot);
    expected_ = (slot + 1) % 4;
    // Block D ends the group (block A, which closes the one before, never
    // comes in the same call).
    if (slot == 3) ended = close();
    return ended;
}

int GroupAssembler::WordTaken(uint16_t status) {
    const int sync = (status >> 8) & 0xF, check = (status >> 4) & 0xF, block = status & 0xF;
    if (status == kNothing || sync == 1 || (check != 0 && check != 2) || block > 4) return -1;
    return kSlotOfBlock[block];
}

bool GroupAssembler::finish() {
    const bool ended = close();
    confirmed_ = false;
    return ended;
}

}  // namespace rdsformats
