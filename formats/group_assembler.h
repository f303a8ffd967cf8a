// Gathers the blocks the decoder reports, status word by status word, into
// groups as a group log records them: the words of the blocks received, a
// gap for each block that failed its check, and which were repaired.
//
// Only groups met while the decoder is synchronised count: a block A found
// while searching opens a group only once block B confirms it, so chance
// matches in noise leave nothing behind.
#pragma once

#include <cstdint>

#include "group_log.h"

namespace rdsformats {

class GroupAssembler {
public:
    // Feeds one status word other than "nothing happened"; `words` are the
    // information words of blocks A, B, C/C' and D the decoder holds now
    // (RDSData 0..3). Returns true when a group is complete: read it with
    // group() before the next call.
    bool feed(uint16_t status, const uint16_t (&words)[4]);
    // Ends the stream: true when a group was still open (read it with group()).
    bool finish();

    const GroupRecord& group() const { return done_; }

    // The block (0 A .. 3 D) whose word feed() takes from `status`, or -1
    // for none: a caller may fetch only that word.
    static int WordTaken(uint16_t status);

private:
    bool close();
    void open();

    GroupRecord current_;
    GroupRecord done_;
    bool active_ = false;     // current_ is a group being gathered
    bool confirmed_ = false;  // ... and the decoder is synchronised on it
    int expected_ = 0;        // slot of the next block: 0 A, 1 B, 2 C/C', 3 D
};

}  // namespace rdsformats
