// Something that follows the main window's runs besides the window itself
// (the history window): it hears every status word as the window does,
// learns when a run begins and ends, and is told when a run lets the window
// draw, the moment to redraw without slowing the decoding down.
#pragma once

#include "frame_processor.h"
#include "station_history.h"

namespace varnak {

class RunObserver : public FrameListener {
public:
    // A run begins: a recording (`live` false) or the card's data. `api`
    // and `processor` stay valid until the run ends.
    virtual void runStarted(const MurlinApi& api, const FrameProcessor& processor, bool live) = 0;
    // The run ended (ran out, stopped or failed).
    virtual void runEnded() {}
    // A slice of the run has ended and the window draws: a redraw costs
    // nothing extra now.
    virtual void runYield() {}
    // Right after runStarted(): the run's station was followed before (a
    // band station just picked); its history so far, to go on from.
    virtual void runHistory(const rdsformats::StationHistory& /*history*/) {}
};

}  // namespace varnak
