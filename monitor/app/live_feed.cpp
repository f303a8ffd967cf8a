#include "live_feed.h"

#include <utility>

namespace varnak {

LiveFeed::LiveFeed(Decode decode, OverflowChanged overflowChanged)
    : decode_(std::move(decode)), overflowChanged_(std::move(overflowChanged)) {}

void LiveFeed::start() {
    queue_.clear();
    // A batch of an earlier run that is still on the stack (Stop and a new
    // start were handled from inside it) must not feed its old text into
    // the new run.
    batch_.clear();
    setOverflow(false);
    active_ = true;
}

void LiveFeed::stop() {
    active_ = false;
    queue_.clear();
    batch_.clear();
}

void LiveFeed::onData(quesmer::EncTyp encoding, const QString& bin) {
    if (encoding != quesmer::ENC_HEX || !active_) return;
    setOverflow(false);
    const QByteArray text = bin.toLatin1();
    queue_.append(text.constData(), static_cast<std::size_t>(text.size()));

    // The bound covers the whole batch in progress plus what came after it.
    // Dropping reaches into the batch only when the batch is longer than
    // what is dropped; either way the batch is cut short and what is kept
    // is decoded after it, in order.
    const std::size_t inBatch = batch_.size();
    if (inBatch + queue_.size() > kPendingLimit) {
        setOverflow(true);
        if (kDropCount >= inBatch) queue_.erase(0, kDropCount - inBatch);
        else queue_.insert(0, batch_, kDropCount, std::string::npos);
        batch_.clear();
    }
    if (busy_) return;  // the running batch picks the text up when it ends
    drain();
}

void LiveFeed::drain() {
    busy_ = true;
    while (active_) {
        // Whole pairs only: a lone last digit waits for its partner, so
        // that every nibble reaches the decoder in order.
        const std::size_t whole = queue_.size() & ~static_cast<std::size_t>(1);
        if (whole == 0) break;
        batch_.assign(queue_, 0, whole);
        queue_.erase(0, whole);
        decode_(batch_);
        batch_.clear();
    }
    busy_ = false;
}

std::string LiveFeed::pendingHex() const { return batch_ + queue_; }

void LiveFeed::setOverflow(bool shown) {
    if (shown == overflow_) return;
    overflow_ = shown;
    if (overflowChanged_) overflowChanged_(shown);
}

}  // namespace varnak
