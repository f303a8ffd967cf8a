#include "card_runner.h"

#include <utility>

#include "live_feed.h"
#include "run_context.h"
#include "run_controller.h"

namespace varnak {

CardRunner::CardRunner(RunContext& context, std::function<void()> stop) : context_(context), stop_(std::move(stop))
{
    live_ = std::make_unique<LiveFeed>([this](const std::string& hex) { decodeText(hex, false); },
                                       [this](bool shown) { context_.view().showOverflow(shown); });
}

CardRunner::~CardRunner() { live_->stop(); }

bool CardRunner::active() const { return live_->active(); }

void CardRunner::halt() { live_->stop(); }

bool CardRunner::start()
{
    if (!context_.ensureProcessor(true) || !context_.openLiveLog(QStringLiteral("Card.out"))) return false;
    context_.beginRun(true);
    context_.view().setStopEnabled(true);
    live_->start();
    return true;
}

void CardRunner::decodeText(const std::string& text, bool fromFile)
{
    if (text.empty() || !context_.ensureProcessor(true)) return;
    RunView& view = context_.view();
    FrameProcessor& processor = context_.processor();
    processor.setInverted(view.inverted());
    view.setDecoding(true);
    processor.process(text, fromFile);
    // A decode log that cannot be written ends a live run: Stop reports it.
    if (!context_.yieldView() && active()) stop_();
    view.setDecoding(false);
    view.setInverted(processor.inverted(), false);
    view.showDecoded();
}

}  // namespace varnak
