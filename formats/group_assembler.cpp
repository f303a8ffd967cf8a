#include "group_assembler.h"

#include "status_word.h"

namespace rdsformats {

void GroupAssembler::open()
{
    current_ = GroupRecord{};
    active_ = true;
}

bool GroupAssembler::close()
{
    const bool keep = active_ && confirmed_ && current_.received != 0;
    if (keep) done_ = current_;
    active_ = false;
    return keep;
}

bool GroupAssembler::feed(uint16_t status, const uint16_t (&words)[4])
{
    const StatusWord word(status);
    if (word.nothing()) return false;
    const int sync = word.sync();
    if (word.autoReset()) {  // the decoder starts afresh
        const bool ended = close();
        confirmed_ = false;
        return ended;
    }
    if (word.check() == StatusWord::kFailed) {
        // A block that failed: the one expected at this place.
        bool ended = false;
        if (active_ || confirmed_) {
            if (!active_) open();
            expected_ = (expected_ + 1) % 4;
            if (expected_ == 0) ended = close();
        }
        if (sync == StatusWord::kLost) {
            ended = close() || ended;
            confirmed_ = false;
        }
        return ended;
    }
    const int slot = word.blockIndex();
    if (slot < 0 || !word.blockUsable()) return false;
    bool ended = false;
    if (slot == 0) {
        ended = close();
        open();
        // A block A found while searching waits for block B to confirm it.
        if (sync == StatusWord::kSearching) confirmed_ = false;
    } else if (!active_) {
        if (!confirmed_) return false;
        open();
    }
    if (slot == 1 && sync == StatusWord::kSynchronised) confirmed_ = true;
    current_.blocks[slot] = words[slot];
    current_.received |= static_cast<uint8_t>(1u << slot);
    if (word.check() == StatusWord::kRepaired) current_.repaired |= static_cast<uint8_t>(1u << slot);
    expected_ = (slot + 1) % 4;
    // Block D ends the group (block A, which closes the one before, never
    // comes in the same call).
    if (slot == 3) ended = close();
    return ended;
}

int GroupAssembler::WordTaken(uint16_t status)
{
    const StatusWord word(status);
    if (word.nothing() || word.autoReset() || !word.blockUsable()) return -1;
    return word.blockIndex();
}

bool GroupAssembler::finish()
{
    const bool ended = close();
    confirmed_ = false;
    return ended;
}

}  // namespace rdsformats
