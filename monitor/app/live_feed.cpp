#include "live_feed.h"

#include <utility>

namespace varnak {

LiveFeed::LiveFeed(Decode decode, OverflowChanged overflowChanged)
    : decode_(std::move(decode)), overflowChanged_(std::move(overflowChanged))
{
}

void LiveFeed::start()
{
    queue_.clear();
    setOverflow(false);
    active_ = true;
}

void LiveFeed::stop()
{
    active_ = false;
    queue_.clear();
}

void LiveFeed::onData(quesmer::EncTyp encoding, const QString& bin)
{
    if (encoding != quesmer::ENC_HEX || !active_) return;
    setOverflow(false);
    const QByteArray text = bin.toLatin1();
    queue_.append(text.constData(), static_cast<std::size_t>(text.size()));
    if (queue_.size() > kPendingLimit) {
        setOverflow(true);
        queue_.erase(0, kDropCount);
    }
    // Whole pairs only: a lone last digit waits for its partner, so that
    // every nibble reaches the decoder in order.
    const std::size_t whole = queue_.size() & ~static_cast<std::size_t>(1);
    if (whole == 0) return;
    batch_.assign(queue_, 0, whole);
    queue_.erase(0, whole);
    decode_(batch_);
}

void LiveFeed::setOverflow(bool shown)
{
    if (shown == overflow_) return;
    overflow_ = shown;
    if (overflowChanged_) overflowChanged_(shown);
}

}  // namespace varnak
