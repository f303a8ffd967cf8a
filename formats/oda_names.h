// Open data applications: the names of the registered application
// identifiers (AIDs) the suite knows, and which group type carries which
// application on a station, as its 3A groups announce.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rdsformats {

// The short name of a registered AID ("RT+", "eRT", "TMC"), or nullptr for
// one the suite does not know.
const char* OdaName(uint16_t aid);
// "RT+ (4BD7)", or "4BD7" for an AID without a name.
std::string OdaLabel(uint16_t aid);

// AIDs the suite decodes.
inline constexpr uint16_t kAidRtPlus = 0x4BD7;
inline constexpr uint16_t kAidRtPlusErt = 0x4BD8;
inline constexpr uint16_t kAidErt = 0x6552;
inline constexpr uint16_t kAidDab = 0x0093;
inline constexpr uint16_t kAidTmc = 0xCD46;

class OdaDirectory {
public:
    // Takes an announcement: a 3A group's block B (the carrying group in
    // bits 4..0), message (block C) and AID (block D).
    void announce(uint16_t blockB, uint16_t message, uint16_t aid);
    void clear() { *this = OdaDirectory{}; }
    // The application carried in group `type`/`version` (0 A, 1 B), 0 for none.
    uint16_t aidOf(int type, int version) const { return carried_[(type * 2 + version) & 31]; }
    // The group code (type * 2 + version) that carries `aid`, -1 for none.
    int carrierOf(uint16_t aid) const;
    // The last message announced with `aid` (0 before any).
    uint16_t messageOf(uint16_t aid) const;

private:
    std::array<uint16_t, 32> carried_{};
    std::array<uint16_t, 32> message_{};  // of the application carried there
    // Applications announced without a group of their own (code 0 "none").
    std::array<uint16_t, 8> others_{};
    std::array<uint16_t, 8> othersMessage_{};
};

}  // namespace rdsformats
