// A station for the history tests, as an rdsgen description: a PS that
// changes between "KESTREL " and " TRAFFIC" every three rounds of its four
// segments, with TA raised while " TRAFFIC" shows, two radiotexts, an AF
// list of 87.6 and 99.5 MHz, an ODA and a clock; the schedule
// 0A*4 2A*2 1A 3A gives known group shares (the 4A of the clock replaces
// the first 3A).
#pragma once

#include <string>

namespace varnaktest {

inline std::string HistoryStation()
{
    std::string d =
        "pi 0x54A8\npty 10\ntp 1\n"
        "rt A \"First radiotext\"\nrt A \"Second one here\"\n"
        "schedule 0A*4 2A*2 1A 3A\noda 0x4BD7 11A\npin 9:12:30\nct 2026-12-08 19:55 +1\n";
    // The PS goes out as raw 0A groups: TA, music, segment address; block C
    // carries the AF list (2 entries: 87.6, then 99.5 and the filler).
    const char* const texts[2] = {"KESTREL ", " TRAFFIC"};
    const char* const afs[4] = {"0xE201", "0x78CD", "0xE201", "0x78CD"};
    for (int ta = 0; ta < 2; ++ta)
        for (int round = 0; round < 3; ++round)
            for (int segment = 0; segment < 4; ++segment) {
                const int b = ta << 4 | 1 << 3 | segment;
                const int word = (unsigned char)texts[ta][segment * 2] << 8 | (unsigned char)texts[ta][segment * 2 + 1];
                d += "raw 0A " + std::to_string(b) + " " + afs[segment] + " " + std::to_string(word) + "\n";
            }
    return d;
}

// What 192 groups of it (rdsgen -n 192) hold.
constexpr int kHistoryGroups = 192;

}  // namespace varnaktest
