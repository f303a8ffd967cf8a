#include "rbds.h"

namespace rdsformats {
namespace {

constexpr const char* kRbdsPty[32] = {
    "None",
    "News",
    "Information",
    "Sports",
    "Talk",
    "Rock",
    "Classic Rock",
    "Adult Hits",
    "Soft Rock",
    "Top 40",
    "Country",
    "Oldies",
    "Soft",
    "Nostalgia",
    "Jazz",
    "Classical",
    "Rhythm and Blues",
    "Soft Rhythm and Blues",
    "Language",
    "Religious Music",
    "Religious Talk",
    "Personality",
    "Public",
    "College",
    "Spanish Talk",
    "Spanish Music",
    "Hip Hop",
    "Unassigned",
    "Unassigned",
    "Weather",
    "Emergency Test",
    "Emergency",
};

constexpr unsigned kFirstK = 0x1000;                      // KAAA
constexpr unsigned kFirstW = kFirstK + 26 * 26 * 26;      // WAAA, 0x54A8
constexpr unsigned kFirstThree = kFirstW + 26 * 26 * 26;  // 0x9950

// The three-letter calls, by PI from 0x9950 on; nullptr where none is assigned.
constexpr const char* kThreeLetter[] = {
    "KEX",   "KFH",   "KFI",   "KGA",   "KGO",   "KGU",   "KGW",   "KGY",    // 0x9950
    "KID",   "KIT",   "KJR",   "KLO",   "KLZ",   "KMA",   "KMJ",   "KNX",    // 0x9958
    "KOA",   nullptr, nullptr, nullptr, "KQV",   "KSL",   "KUJ",   "KVI",    // 0x9960
    "KWG",   nullptr, nullptr, "KYW",   nullptr, "WBZ",   "WDZ",   "WEW",    // 0x9968
    nullptr, "WGL",   "WGN",   "WGR",   nullptr, "WHA",   "WHB",   "WHK",    // 0x9970
    "WHO",   nullptr, "WIP",   "WJR",   "WKY",   "WLS",   "WLW",   nullptr,  // 0x9978
    nullptr, "WOC",   nullptr, "WOL",   "WOR",   nullptr, nullptr, nullptr,  // 0x9980
    "WWJ",   "WWL",   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 0x9988
    "KDB",   "KGB",   "KOY",   "KPQ",   "KSD",   "KUT",   "KXL",   "KXO",    // 0x9990
    nullptr, "WBT",   "WGH",   "WGY",   "WHP",   "WIL",   "WMC",   "WMT",    // 0x9998
    "WOI",   "WOW",   "WRR",   "WSB",   "WSM",   "KBW",   "KCY",   "KDF",    // 0x99A0
    nullptr, nullptr, "KHQ",   "KOB",   nullptr, nullptr, nullptr, nullptr,  // 0x99A8
    nullptr, nullptr, nullptr, "WIS",   "WJW",   "WJZ",   nullptr, nullptr,  // 0x99B0
    nullptr, "WRC",                                                          // 0x99B8
};
constexpr unsigned kThreeLetterCount = sizeof kThreeLetter / sizeof kThreeLetter[0];

}  // namespace

const char* RbdsPtyName(int pty) { return pty >= 0 && pty < 32 ? kRbdsPty[pty] : nullptr; }

std::string CallLetters(uint16_t piCode)
{
    unsigned pi = piCode;
    if ((pi & 0xFF00) == 0xAF00)
        pi = (pi & 0xFF) << 8;  // AFxy -> xy00
    else if ((pi & 0xF000) == 0xA000)
        pi = ((pi & 0x0F00) << 4) | (pi & 0xFF);  // Axyz -> x0yz
    if (pi >= kFirstK && pi < kFirstThree) {
        const bool w = pi >= kFirstW;
        unsigned n = pi - (w ? kFirstW : kFirstK);
        std::string call(4, w ? 'W' : 'K');
        for (int i = 3; i >= 1; --i) {
            call[i] = static_cast<char>('A' + n % 26);
            n /= 26;
        }
        return call;
    }
    if (pi >= kFirstThree && pi < kFirstThree + kThreeLetterCount && kThreeLetter[pi - kFirstThree])
        return kThreeLetter[pi - kFirstThree];
    return {};
}

}  // namespace rdsformats
