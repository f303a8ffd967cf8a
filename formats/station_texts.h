// What a station's groups say, gathered with how sure each character is:
// PS (and a dynamic PS as its sequence of names), radiotext of 2A and 2B
// groups, enhanced radiotext, long PS, the open data applications
// announced, the DAB cross-reference and which 14A variants of each other
// network arrived. Fed the block words of each decoded group with whether
// each block was received and whether it was repaired (GroupRecord); a
// new PI in a block A accepted without repair starts afresh.
//
// BlockQuality gathers that block information from the decoder's status
// words between two decoded groups.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dab_xref.h"
#include "ert.h"
#include "group_log.h"
#include "oda_names.h"
#include "text_confidence.h"
#include "tmc_message.h"

namespace rdsformats {

// The blocks of the group being decoded, from the status words.
class BlockQuality {
public:
    // Every status word, in order; `sure`: its block's bits were marked
    // sure by the demodulator (FrameListener::onSureStatus).
    void onStatus(uint16_t status, bool sure = false);
    // The decoded group with the words the decoder holds (RDSData 0..3):
    // the blocks seen since the last group, then starts over.
    GroupRecord take(const uint16_t (&words)[4]);

private:
    uint8_t received_ = 0, repaired_ = 0, sure_ = 0;
};

class StationTexts {
public:
    // Groups between two changes of the complete PS that mark it as dynamic.
    static constexpr uint64_t kDynamicWindow = 600;  // about 52 s
    static constexpr std::size_t kSequenceLimit = 12;

    StationTexts();
    void feed(const GroupRecord& g);
    void clear();

    uint16_t pi() const { return pi_; }
    bool hasPi() const { return hasPi_; }

    const ConfidentText& ps() const { return ps_; }
    // Radiotext of version 0 (2A, 64 bytes) or 1 (2B, 32 bytes).
    const ConfidentText& radiotext(int version) const { return version ? rtB_ : rtA_; }
    int textAB() const { return textAB_; }
    // The station changes its complete PS every few seconds, and the names
    // it went through, oldest first.
    bool dynamicPs() const { return dynamic_; }
    const std::deque<std::string>& psSequence() const { return sequence_; }

    const ConfidentText& enhancedRadiotext() const { return ert_; }
    bool ertUcs2() const { return !ErtIsUtf8(oda_.messageOf(kAidErt)); }
    const ConfidentText& longPs() const { return longPs_; }
    // RT+ tags on the enhanced radiotext (AID 0x4BD8): class name and the
    // tagged characters, in content-type order; only tags whose characters
    // are all confirmed count, and item tags only while an item runs.
    std::vector<std::pair<std::string, std::string>> ertPlusItems() const;

    // A 0A group brought the count code of the AF list (224..249).
    bool afCounted() const { return afCounted_; }

    const OdaDirectory& oda() const { return oda_; }
    // TMC messages (8A groups received without repair) put together; the
    // group just fed made a message whole.
    const TmcAssembler& tmc() const { return tmc_; }
    bool tmcCompleted() const { return tmcCompleted_; }
    const DabCrossReference& dab() const { return dab_; }

    // Bit v: 14A variant v of the other network `pi` arrived; bit 16: a 14B.
    uint32_t eonSeen(uint16_t pi) const;
    // The PS of the other network `pi` (nullptr before any of it arrived).
    const ConfidentText* eonPs(uint16_t pi) const;
    // Other networks kept at most; more start the list afresh.
    static constexpr std::size_t kEonLimit = 64;

    // Grows with every change of what is held.
    uint64_t revision() const { return revision_; }

private:
    void feedPs(const GroupRecord& g);
    void feedRadiotext(const GroupRecord& g);
    void feedSegments(ConfidentText& text, const GroupRecord& g, std::size_t pos, bool fromC);
    void notePsComplete();
    // Where a radiotext sent without end code ends: the segment after which
    // the station starts over at segment 0, once seen twice the same.
    struct Wrap {
        int last = -1;       // segment of the last clean group
        int candidate = -1;  // segment seen before the last restart
    };
    void noteWrap(Wrap& w, ConfidentText& text, int segment, int perSegment);

    uint16_t pi_ = 0;
    bool hasPi_ = false;
    ConfidentText ps_, rtA_, rtB_, ert_, longPs_;
    struct ErtTag {
        uint8_t type = 0, start = 0, length = 0;
    };
    std::vector<ErtTag> ertTags_;  // at most one per content type
    int ertToggle_ = -1;
    bool ertRunning_ = false;
    int textAB_ = -1;
    bool afCounted_ = false;
    Wrap wrapA_, wrapB_;
    bool dynamic_ = false;
    std::string lastComplete_;
    std::deque<std::string> sequence_;
    std::deque<uint64_t> changes_;  // group numbers of the last changes of the complete PS
    uint64_t groups_ = 0;
    OdaDirectory oda_;
    DabCrossReference dab_;
    TmcAssembler tmc_;
    bool tmcCompleted_ = false;
    std::map<uint16_t, uint32_t> eon_;
    std::map<uint16_t, ConfidentText> eonPs_;
    uint64_t revision_ = 0;
};

}  // namespace rdsformats
