// RadioText Plus: the open data application (AID 0x4BD7) that tags parts
// of the current radiotext as title, artist and so on. Group 3A announces
// which group type carries the tags; each such group carries two tags
// (content type, start and length in the radiotext) and the item toggle
// and running bits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rdsformats {

class RtPlus {
public:
    static constexpr uint16_t kAid = 0x4BD7;

    // Feeds a decoded group: its four block words, and the radiotext of
    // version A groups (64 bytes) and of version B groups (32 bytes) as the
    // decoder holds them after this group.
    void feed(const uint16_t (&blocks)[4], const char* radioTextA, const char* radioTextB);
    void clear() { *this = RtPlus{}; }

    // The group carrying the tags, as type * 2 + version; -1 until announced.
    int carrier() const { return carrier_; }
    // Whether this group was an RT+ group or a radiotext group while RT+ runs.
    bool touched() const { return touched_; }

    // The tagged items of the current radiotext, in content-type order:
    // class name ("item.title") and the tagged text in UTF-8, trailing
    // spaces dropped; tags over positions not yet received or empty are left
    // out, and so are the item classes while no item is running.
    std::vector<std::pair<std::string, std::string>> items() const;
    // The item toggle and running bits of the last RT+ group.
    bool itemRunning() const { return running_; }

    // The class name of a content type 0..63 ("item.artist" for 4).
    static const char* ClassName(int type);

    // The two tags an RT+ group carries: content type, start and length in
    // characters (the group's length marker plus one).
    struct GroupTag {
        int type = 0, start = 0, length = 0;
    };
    static std::array<GroupTag, 2> GroupTags(const uint16_t (&blocks)[4]);

private:
    struct Tag {
        uint8_t start = 0;
        uint8_t length = 0;  // characters after the first
    };
    void addTag(int type, int start, int length);

    int carrier_ = -1;
    int toggle_ = -1;
    int textAB_ = -1;
    bool running_ = false;
    bool touched_ = false;
    bool versionB_ = false;  // the radiotext is sent in version B groups
    Tag tags_[64]{};
    uint64_t present_ = 0;  // bit per content type with a tag
    std::string text_;      // the radiotext the tags point into
};

}  // namespace rdsformats
