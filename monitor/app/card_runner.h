// The Card run: the connected card set up for the RDS bit stream, its
// progress shown and Stop able to end it; then the card's live data
// (hexadecimal text) decoded as it comes into Card.out in the current
// directory, until Stop. The live data handler queues the card's data events
// and hands whole digit pairs to the decoder.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "quesmer/start_sequence.h"

namespace varnak {

class LiveFeed;
class RunContext;

class CardRunner {
public:
    // `stop` is the Stop command: a decode log that cannot be written ends
    // the run through it.
    CardRunner(RunContext& context, std::function<void()> stop);
    ~CardRunner();
    CardRunner(const CardRunner&) = delete;
    CardRunner& operator=(const CardRunner&) = delete;

    // Sets up card number `card` on `link` (connected) for the RDS bit
    // stream from IF input `ifInput`, waiting with `pause`: the status bar
    // shows each step, and Stop (or closing the window) ends the set-up
    // within one pause. False when it was ended so.
    bool setUp(quesmer::CardLink& link, int card, quesmer::Integer ifInput, const quesmer::StartPause& pause);
    // Opens Card.out, resets the decoder and lets the card's data through;
    // false (the user was told) when the decoder or the log cannot be had.
    bool start();
    // Decodes `text` (one character per bit when `fromFile`, else two
    // hexadecimal characters per byte) and shows what it decodes.
    void decodeText(const std::string& text, bool fromFile);
    bool active() const;
    // Stop: the card's data is ignored from now on.
    void halt();
    LiveFeed& liveFeed() { return *live_; }

private:
    RunContext& context_;
    std::function<void()> stop_;
    std::unique_ptr<LiveFeed> live_;
    bool settingUp_ = false;
    bool cancelled_ = false;  // Stop came during the set-up
};

}  // namespace varnak
