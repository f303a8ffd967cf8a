// The live data handler: hexadecimal text arriving from the card, queued and
// handed to the decoder in whole digit pairs.
//
// Each data event is decoded before the next one is taken (decoding never
// runs the event loop), so the queue holds at most a lone last digit between
// events; the overflow rule bounds what one event may bring. The class holds
// no widgets: the window wires the card's data event to onData(), the
// decoding call to the constructor's callback and the "F" label to the
// overflow callback.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "quesmer/types.h"

namespace varnak {

class LiveFeed {
public:
    // Decodes one batch of hexadecimal text (two characters per byte).
    using Decode = std::function<void(const std::string& hex)>;
    // Called with true when text had to be dropped, with false when the next
    // accepted data event hides the mark again.
    using OverflowChanged = std::function<void(bool shown)>;

    // Longest pending text after any data event. When a data event makes the
    // pending text longer, its first kDropCount characters are dropped.
    static constexpr std::size_t kPendingLimit = 2600;
    static constexpr std::size_t kDropCount = kPendingLimit - 1;

    explicit LiveFeed(Decode decode, OverflowChanged overflowChanged = {});
    LiveFeed(const LiveFeed&) = delete;
    LiveFeed& operator=(const LiveFeed&) = delete;

    // A live run begins: pending text and the overflow mark are cleared and
    // data is accepted from now on.
    void start();
    // The run ends: data is ignored from now on and text not yet decoded is
    // dropped.
    void stop();
    bool active() const { return active_; }

    // The card's data event. Text in any encoding but hexadecimal, and any
    // text while no run is active, changes nothing.
    void onData(quesmer::EncTyp encoding, const QString& bin);

    // Text received and not yet decoded: a lone digit waiting for its pair.
    const std::string& pendingHex() const { return queue_; }
    bool overflow() const { return overflow_; }

private:
    void setOverflow(bool shown);

    Decode decode_;
    OverflowChanged overflowChanged_;
    bool active_ = false;
    bool overflow_ = false;
    std::string queue_;  // text received and not yet decoded
    std::string batch_;  // the whole pairs handed to the decoder
};

}  // namespace varnak
