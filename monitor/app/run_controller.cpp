#include "run_controller.h"

#include <QFile>
#include <QTimer>

#include "band_runner.h"
#include "card_runner.h"
#include "file_runner.h"
#include "live_feed.h"
#include "radio_runner.h"
#include "run_context.h"
#include "run_observer.h"
#include "station_files.h"

namespace varnak {

RunController::RunController(RunView& view, FrameListener& display, QObject* parent)
    : QObject(parent),
      context_(std::make_unique<RunContext>(view, display, [this](bool ok) { emit finished(ok); })),
      radio_(std::make_unique<RadioRunner>(*context_)),
      file_(std::make_unique<FileRunner>(*context_, *radio_)),
      card_(std::make_unique<CardRunner>(*context_, [this] { stop(); })),
      band_(std::make_unique<BandRunner>(*context_))
{
}

RunController::~RunController()
{
    file_->halt();
    // The radio worker posts to its runner: it is gone before it.
    radio_->halt();
    band_->halt();
    card_->halt();
    context_->log().close();
}

void RunController::setRealtime(bool on) { context_->realtime = on; }

bool RunController::realtime() const { return context_->realtime; }

void RunController::setObserver(RunObserver* observer) { context_->setObserver(observer); }

void RunController::setInverted(bool inverted)
{
    if (context_->hasProcessor()) context_->processor().setInverted(inverted);
}

bool RunController::isAnalysing() const { return context_->analysing; }

bool RunController::isRadioRunning() const { return radio_->active(); }

bool RunController::isBandRunning() const { return band_->active(); }

bool RunController::cardActive() const { return card_->active(); }

bool RunController::isLogOpen() const { return context_->log().isOpen(); }

const QString& RunController::currentPath() const { return context_->currentPath; }

void RunController::clearCurrentPath() { context_->currentPath.clear(); }

int16_t RunController::resetCount() const
{
    return context_->hasProcessor() ? context_->processor().resetCount() : int16_t(0);
}

LiveFeed& RunController::liveFeed() { return card_->liveFeed(); }

bool RunController::analyseFile(const QString& path)
{
    if (context_->analysing) return false;
    context_->currentPath = path;
    if (path.isEmpty()) {
        QTimer::singleShot(0, this, [this] { emit finished(true); });
        return true;
    }
    if (mpxRate_) return runRadio(path);
    // IQ samples: raw ones as the command line says, a SigMF recording by its name.
    const std::string name = path == QLatin1String("-") ? std::string("-") : QFile::encodeName(path).toStdString();
    if (iq_ || IsSigmfPath(name)) {
        BandInput input;
        input.path = name;
        if (iq_) input.iq = *iq_;
        return runBand(input, path);
    }
    return file_->start(path);
}

bool RunController::runRadio(const QString& path)
{
    if (context_->analysing || !mpxRate_) return false;
    context_->currentPath = path;
    return radio_->startRaw(path, *mpxRate_);
}

bool RunController::runBand(const BandInput& input, const QString& path)
{
    if (context_->analysing) return false;
    context_->currentPath = path;
    BandInput in = input;
    in.realtime = in.realtime || context_->realtime;
    return band_->start(in, path);
}

bool RunController::setUpCard(quesmer::CardLink& link, int card, int ifInput, const std::function<void(int)>& pause)
{
    return card_->setUp(link, card, static_cast<quesmer::Integer>(ifInput), pause);
}

bool RunController::startCard() { return card_->start(); }

void RunController::decodeText(const std::string& text, bool fromFile) { card_->decodeText(text, fromFile); }

void RunController::stop()
{
    ++stopCount_;
    card_->halt();
    radio_->halt();
    band_->halt();
    file_->halt();
    RunView& view = context_->view();
    view.releaseCard();
    const bool analysing = context_->analysing;
    // A run in progress tells the observer as it ends below.
    if (!analysing && context_->observer()) context_->observer()->runEnded();
    context_->setIdle();
    if (!analysing && context_->hasProcessor()) context_->processor().setLog(nullptr);
    context_->closeLog();
    if (file_->active())
        file_->stopped();
    else if (radio_->active())
        radio_->stopped();
    else if (band_->active())
        band_->stopped();
}

}  // namespace varnak
