// The indicators of the top row that follow the decoder's status word: the
// sequence (FULL, PART), sync (SYN, NOT, ACQ, LOS) and check (OK, UNC, COR,
// BAD) indicators and the lamps of blocks A to D.
//
// While a text is decoded the window notes each status word (note()) and
// draws what they leave once per redraw (apply()).
#pragma once

#include <cstdint>

#include "main_layout.h"
#include "status_word.h"

namespace varnak {

class SyncIndicators {
public:
    // Draws into `widgets`, which outlive this.
    explicit SyncIndicators(const IndicatorWidgets& widgets) : w_(widgets) {}

    // Lights lamps 0..`last` and darkens the others (-1 darkens them all).
    void lightLamps(int last);
    // Shows one status word at once.
    void show(rdsformats::StatusWord status);
    // Notes what a status word leaves on the indicators; draws nothing.
    void note(rdsformats::StatusWord status);
    // Draws what the status words since the last call left.
    void apply();

private:
    // The last value of each field that changes an indicator, -1 for none.
    struct Marks {
        static constexpr int8_t kUntouched = 100;
        int8_t sequence = -1, sync = -1, check = -1;
        int8_t lamps = kUntouched;  // the last lamp to light
    };
    static void Mark(Marks& marks, rdsformats::StatusWord status);
    void draw(Marks& marks);  // and forgets them

    const IndicatorWidgets& w_;
    Marks marks_;
};

}  // namespace varnak
