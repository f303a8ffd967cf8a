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

void CardRunner::halt()
{
    live_->stop();
    if (settingUp_) cancelled_ = true;
}

bool CardRunner::setUp(quesmer::CardLink& link, int card, quesmer::Integer ifInput, const quesmer::StartPause& pause)
{
    RunView& view = context_.view();
    view.setStartEnabled(false);
    view.setStopEnabled(true);
    settingUp_ = true;
    cancelled_ = false;
    // The pauses let events run: Stop is served meanwhile and tells halt().
    const bool done = quesmer::sendRdsStartSequenceWithProgress(link, ifInput, pause, [&](int step) {
        if (cancelled_) return false;
        view.showProgress(
            QStringLiteral("Setting up card N°%1: step %2 of %3").arg(card).arg(step).arg(quesmer::kRdsStartSteps));
        return true;
    });
    settingUp_ = false;
    view.showProgress(QString());
    return done && !cancelled_;
}

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
