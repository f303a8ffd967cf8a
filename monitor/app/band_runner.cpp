#include "band_runner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <utility>

#include "decode_log.h"
#include "field_format.h"
#include "frame_processor.h"
#include "rbds.h"
#include "run_context.h"
#include "run_controller.h"
#include "run_observer.h"
#include "station_files.h"

namespace varnak {
namespace {

// How often the table, the spectrum and the panels are redrawn.
constexpr qint64 kViewMs = 100;
// How often the title shows the run's state when nothing else comes.
constexpr int kShowMs = 250;
// Group codes (type * 2 + version).
constexpr int kGroupCodes = 32;

}  // namespace

// One station of the band: its frame processor with a decoder of its own,
// its decode log, and its last group of every type (what the panels show
// when it is picked).
class BandRunner::Station : public FrameListener {
public:
    Station(const MurlinApi& api, BandRunner& owner, const radio::BandStation& s, bool live)
        : api(api), processor(api), owner(owner), info(s)
    {
        processor.useOwnDecoder();
        processor.setListener(this);
        feed.begin(live);
        live_ = live;
    }

    bool selected() const { return owner.selected_ == info.id; }

    void onAutoReset(bool inverted) override
    {
        if (selected()) owner.context_.listener().onAutoReset(inverted);
    }
    void onStatus(uint16_t status) override
    {
        // Every station keeps its history, so that the history window can
        // follow a station picked later from what it sent so far.
        if (!live_) feed.setPosition(processor.position());
        feed.onStatusFetching(status, [this](int n) { return static_cast<uint16_t>(api.RDSData(n)); });
        if (selected()) owner.context_.listener().onStatus(status);
    }
    void onGroup(const DecodedGroup& group) override
    {
        ++groups;
        const int code = (group.state.groupType & 15) * 2 + (group.state.groupVersion & 1);
        last[code] = group;
        order[code] = ++serial;
        if (selected())
            owner.context_.listener().onGroup(group);
        else
            owner.context_.countGroup();
    }

    const MurlinApi& api;
    FrameProcessor processor;
    BandRunner& owner;
    radio::BandStation info;
    rdsformats::StationHistory history;
    rdsformats::HistoryFeed feed{history};
    bool live_ = false;
    DecodeLog log;
    bool logOpen = false;
    std::size_t groups = 0;
    // The last group of every code, and when it came (0: never).
    DecodedGroup last[kGroupCodes]{};
    uint64_t order[kGroupCodes]{};
    uint64_t serial = 0;
};

BandRunner::BandRunner(RunContext& context) : context_(context)
{
    timer_.setInterval(kShowMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        drain();
        showState();
    });
}

// The worker posts to this object: it is gone before it.
BandRunner::~BandRunner() { halt(); }

void BandRunner::halt()
{
    if (run_) run_->stop();
}

bool BandRunner::start(const BandInput& input, const QString& path)
{
    RunView& view = context_.view();
    std::string error;
    std::unique_ptr<BandRun> run = BandRun::open(input, error);
    if (!run) {
        view.tell(QStringLiteral("Cannot start the band run: %1").arg(Sentence(error)));
        return false;
    }
    if (!context_.ensureProcessor(true)) return false;
    live_ = run->isLive();
    base_ = live_ ? QFile::encodeName(QDir::current().filePath(QStringLiteral("Band.out"))).toStdString()
                  : BandOutputBase(input.path, false);
    path_ = path;
    context_.currentPath = live_ ? QFile::decodeName(QByteArray::fromStdString(base_)) : path;
    view.setStartEnabled(false);
    view.setStopEnabled(true);
    view.showLogPath(
        QFileInfo(QFile::decodeName(QByteArray::fromStdString(StationPath(base_, "<MHz>")))).absoluteFilePath());
    context_.beginRun(live_);
    // The shared processor takes no groups in a band run: each station logs
    // through its own.
    context_.processor().setLog(nullptr);
    context_.analysing = true;

    stations_.clear();
    model_.clear();
    spectrum_.clear();
    selected_ = -1;
    failure_.clear();
    centerHz_ = run->centerHz();
    rate_ = run->sampleRate();
    run_ = std::move(run);
    batch_ = BandRun::Batch{};
    sinceView_.start();
    timer_.start();
    emit started();
    emit updated();
    // Called on the worker thread: the bits are taken on this one.
    run_->start([this] {
        QMetaObject::invokeMethod(
            this, [this] { drain(); }, Qt::QueuedConnection);
    });
    showState();
    return true;
}

BandRunner::Station& BandRunner::station(const radio::BandStation& s)
{
    auto& slot = stations_[s.id];
    if (slot) {
        slot->info = s;
        return *slot;
    }
    slot = std::make_unique<Station>(context_.api(), *this, s, live_);
    const std::string path = StationPath(base_, StationLabel(s.frequencyHz));
    if (slot->log.open(path)) {
        slot->logOpen = true;
        // A live log may be followed while it grows: whole records at once.
        slot->log.setFlushEachGroup(live_);
        slot->processor.setLog(&slot->log);
    } else if (failure_.empty()) {
        failure_ = slot->log.error();
    }
    slot->processor.beginStream(true);
    return *slot;
}

void BandRunner::take()
{
    for (;;) {
        run_->take(batch_);
        for (const auto& [s, found] : batch_.events) station(s).info.active = found;
        for (const radio::BandStation& s : batch_.stations) station(s);
        if (!batch_.spectrum.empty()) spectrum_.swap(batch_.spectrum);
        bool any = false;
        for (const auto& [id, bits] : batch_.bits) {
            if (bits.empty()) continue;
            any = true;
            const auto at = stations_.find(id);
            if (at == stations_.end()) continue;
            Station& s = *at->second;
            const bool shown = s.selected();
            const auto selection = s.processor.select();
            if (shown) context_.view().setDecoding(true);
            s.processor.feed(bits.data(), bits.size());
            if (shown) context_.view().setDecoding(false);
            // The first station that sends a group is shown until the user
            // picks another.
            if (selected_ < 0 && s.groups > 0) select(id);
        }
        batch_.bits.clear();
        batch_.events.clear();
        batch_.stations.clear();
        if (!any) break;
    }
}

void BandRunner::drain()
{
    if (!run_) return;
    take();
    if (sinceView_.elapsed() >= kViewMs) {
        sinceView_.start();
        show();
        if (!failure_.empty()) {
            finish(false, false);
            return;
        }
    }
    if (batch_.ended) finish(false, true);
}

// Redraws the table, the spectrum and the main window's station.
void BandRunner::show()
{
    std::vector<BandStationRow> rows;
    rows.reserve(stations_.size());
    for (auto& [id, s] : stations_) {
        rows.push_back(row(*s));
        if (s->logOpen && failure_.empty() && !s->log.error().empty()) failure_ = s->log.error();
    }
    model_.update(rows);
    const auto shown = stations_.find(selected_);
    if (shown != stations_.end()) {
        const auto selection = shown->second->processor.select();
        if (!context_.yieldView() && failure_.empty()) failure_ = "the decode log cannot be written";
    }
    emit updated();
}

BandStationRow BandRunner::row(Station& s) const
{
    BandStationRow r;
    const radio::BandStation& b = s.info;
    r.id = b.id;
    r.mhz = b.frequencyHz / 1e6;
    r.levelDbfs = b.signal.levelDbfs;
    r.cnDb = b.cnDb;
    r.active = b.active;
    r.lastSeenSeconds = rate_ > 0 ? double(b.lastSeenSample) / rate_ : 0;
    const double seconds =
        rate_ > 0 && batch_.samples > b.firstSample ? double(batch_.samples - b.firstSample) / rate_ : 0;
    r.groupsPerSecond = seconds > 0 ? double(s.groups) / seconds : 0;
    if (s.groups == 0) return r;
    const MurlinApi& api = context_.api();
    const auto selection = s.processor.select();
    DecoderState state{};
    api.RDSStruct(&state);
    const long long accepted = api.RDSStat(0), failed = api.RDSStat(1), repaired = api.RDSStat(2);
    const long long checked = accepted + failed - repaired;
    r.hasRds = true;
    r.pi = state.pi;
    r.ps = FieldText(state.ps, 8);
    const char* pty = context_.view().rbdsNames() ? rdsformats::RbdsPtyName(state.pty) : api.RDSPTYDesc(state.pty);
    r.pty = QString::fromLatin1(pty ? pty : "").trimmed();
    const bool rtA = state.groupsSeen & (1u << 4), rtB = state.groupsSeen & (1u << 5);
    r.radioText = (rtA ? FieldText(state.radioText, 64) : rtB ? FieldText(state.radioTextB, 32) : QString()).trimmed();
    r.blockErrorRate = checked > 0 ? double(failed) / double(checked) : -1;
    return r;
}

void BandRunner::select(int id)
{
    const auto at = stations_.find(id);
    if (at == stations_.end() || id == selected_) return;
    RunView& view = context_.view();
    selected_ = id;
    Station& s = *at->second;
    const auto selection = s.processor.select();
    // The panels start from this station's state: its last group of every
    // type, the newest last.
    view.clearBlockLines();
    view.clearValues();
    std::vector<int> codes;
    for (int c = 0; c < kGroupCodes; ++c)
        if (s.order[c] > 0) codes.push_back(c);
    std::sort(codes.begin(), codes.end(), [&s](int a, int b) { return s.order[a] < s.order[b]; });
    view.setDecoding(true);
    for (int c : codes) context_.listener().onGroup(s.last[c]);
    view.setDecoding(false);
    view.setInverted(s.processor.inverted(), true);
    if (RunObserver* observer = context_.observer()) {
        observer->runEnded();
        observer->runStarted(context_.api(), s.processor, live_);
        observer->runHistory(s.history);
    }
    view.showDecoded();
    emit updated();
}

QString BandRunner::logPath(int id) const
{
    const auto at = stations_.find(id);
    if (at == stations_.end()) return {};
    return QFile::decodeName(QByteArray::fromStdString(StationPath(base_, StationLabel(at->second->info.frequencyHz))));
}

void BandRunner::stopped()
{
    if (run_) finish(true, false);
}

// Ends the run: `complete` when its input has ended and all its bits are to
// be decoded, `stopped` when Stop ended it.
void BandRunner::finish(bool stopped, bool complete)
{
    RunView& view = context_.view();
    timer_.stop();
    run_->stop();
    if (complete) take();  // the last bits, after the worker's end
    for (auto& [id, s] : stations_) {
        const auto selection = s->processor.select();
        const bool shown = s->selected();
        if (shown) view.setDecoding(true);
        s->processor.endStream();
        if (shown) view.setDecoding(false);
        s->processor.setLog(nullptr);
        if (!s->logOpen) continue;
        const bool ok = s->log.close();
        if (!ok && failure_.empty()) failure_ = s->log.error();
        // A station that sent no group leaves no empty log behind.
        if (ok && s->groups == 0) QFile::remove(QFile::decodeName(QByteArray::fromStdString(s->log.path())));
    }
    show();
    if (RunObserver* observer = context_.observer()) observer->runEnded();
    const BandRun::Batch state = std::move(batch_);
    if (stopped)
        view.setTitleState(QString());
    else
        showState();
    const std::string name = run_->name();
    run_.reset();
    if (live_ && path_ == QLatin1String("-")) ReleaseStandardInput();
    if (live_) view.setStopEnabled(false);
    QString failure;
    if (!state.error.empty())
        failure = Sentence(state.error);
    else if (!failure_.empty())
        failure = QStringLiteral("A station's decode log is incomplete. %1").arg(Sentence(failure_));
    else if (!stopped && !state.truncation.empty())
        failure = QStringLiteral("%1. The decode logs hold the groups of the part that is there.")
                      .arg(Sentence(state.truncation));
    else if (!stopped && stations_.empty())
        failure = QStringLiteral("No station found in %1").arg(QString::fromStdString(name));
    context_.endRun(path_, stopped, failure);
}

// The run's state in the window title: progress through a recording and the
// number of stations.
void BandRunner::showState()
{
    if (!run_) return;
    QStringList parts;
    if (!live_ && batch_.total && *batch_.total > 0 && !batch_.ended)
        parts << QStringLiteral("%1 %2 %")
                     .arg(QString::fromStdString(run_->name()))
                     .arg(batch_.samples * 100 / *batch_.total);
    std::size_t active = 0;
    for (const auto& [id, s] : stations_) active += s->info.active ? 1 : 0;
    parts << QStringLiteral("%1 station%2").arg(active).arg(active == 1 ? "" : "s");
    if (live_ && batch_.ended) parts << QStringLiteral("input ended");
    context_.view().setTitleState(parts.join(QStringLiteral(", ")));
}

}  // namespace varnak
