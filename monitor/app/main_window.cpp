#include "main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>

#include "config_dialog.h"
#include "field_format.h"
#include "group_log.h"
#include "group_panels.h"
#include "hex_text.h"
#include "live_feed.h"
#include "main_layout.h"
#include "notifier.h"
#include "quesmer/daskel.h"
#include "settings_store.h"
#include "status_word.h"
#include "sync_indicators.h"
#include "widgets.h"

namespace varnak {
namespace {

// At most this long between two yields to the event loop while decoding:
// about one screen refresh, so the indicators follow and clicks are served.
constexpr qint64 kYieldIntervalMs = 16;
// Positions between two looks at the clock.
constexpr std::size_t kProgressInterval = 512;
// Bytes of a recording read at a time.
constexpr std::size_t kReadChunk = std::size_t(1) << 16;
// Longest wait for a silent stream before the window serves its events.
constexpr int kStreamWaitMs = 16;
// The RDS bit rate: real-time playback of bit and hexadecimal text.
constexpr double kBitRate = 1187.5;
// How often a radio run's state is shown, and how long a live input may be
// silent before the window says so.
constexpr int kRadioShowMs = 250;
// How often the panels follow a radio run: the demodulator's worker hands
// over bits every few milliseconds, and drawing the window takes as long as
// demodulating, so it is drawn at a pace the eye can follow and no faster.
constexpr qint64 kRadioViewMs = 100;
constexpr qint64 kSilenceMs = 2000;

// A core error text ("cannot create PATH: reason") as a sentence.
QString Sentence(const std::string& text) {
    QString s = QString::fromLocal8Bit(text);
    if (!s.isEmpty()) s[0] = s[0].toUpper();
    return s;
}

}  // namespace

const QString MainWindow::AppName = QStringLiteral("Varnak");

MainWindow::MainWindow(SettingsStore& store, Notifier& notifier, QWidget* parent)
    : QWidget(parent), store_(store), notifier_(notifier) {
    if (QScreen* s = screen()) dpi_ = s->logicalDotsPerInchY();
    // A disabled value stays readable: a mid grey rather than a faint one.
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    setPalette(pal);
    ui_ = BuildMainLayout(this, Twips(dpi_));
    file_ = ui_.file;
    card_ = ui_.card;
    stopit_ = ui_.stop;
    status_ = ui_.status;
    indicators_ = std::make_unique<SyncIndicators>(ui_.indicators);
    // The descriptor texts load the library on first use, like every other call.
    panels_ = std::make_unique<GroupPanels>(ui_.panels, *this, [this] { return api(false); });

    connect(file_, &QPushButton::clicked, this, &MainWindow::FileCommand);
    connect(stopit_, &QPushButton::clicked, this, &MainWindow::StopCommand);
    connect(card_, &QPushButton::clicked, this, &MainWindow::CardCommand);

    // The card client of live decoding, in the top row; its data events feed
    // the live data handler, which shows the "F" mark when it drops text.
    daskel_ = new quesmer::Daskel(this);
    daskel_->setObjectName(QStringLiteral("Daskel"));
    daskel_->setGeometry(Twips(dpi_).rect(1920, 20, 255, 255));
    daskel_->link().setErrorNotifier([this](const QString& text) { notifier_.message(this, AppName, text); });
    live_ = std::make_unique<LiveFeed>([this](const std::string& hex) { ProcessFrame(hex, false); },
                                       [this](bool shown) { ui_.full->setVisible(shown); });
    connect(daskel_, &quesmer::Daskel::OnCardDataBinary, this,
            [this](quesmer::EncTyp encoding, quesmer::Integer, const QString& bin) { live_->onData(encoding, bin); });
    connect(status_, &PanelStatusBar::panelClicked, this, &MainWindow::PanelClick);

    Load();
}

MainWindow::~MainWindow() {
    if (processor_) processor_->requestStop();
    // The radio worker posts to this window: it is gone before the window.
    if (radio_) radio_->stop();
    // The card client outlives this body; nothing it still raises reaches
    // the window.
    QObject::disconnect(daskel_, nullptr, this, nullptr);
    live_->stop();
    log_.close();
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

void MainWindow::Load() {
    cardHost_ = store_.ReadSetting(AppName, QString(), QStringLiteral("HostName"), QString()).toString();
    cardPort_ = store_.ReadSetting(AppName, QString(), QStringLiteral("HostPort"), 33234).toInt();
    rbds_ = store_.ReadSetting(AppName, QString(), QStringLiteral("RBDS"), 0).toInt() != 0;
    panels_->setRbds(rbds_);

    // The design-time position: centred on the screen.
    const Twips t(dpi_);
    QPoint design(0, 0);
    if (QScreen* s = screen()) {
        const QRect avail = s->availableGeometry();
        design = avail.center() - QPoint(width() / 2, height() / 2);
    }
    const int defaultLeft = static_cast<int>(t.toTwips(design.x()));
    const int defaultTop = static_cast<int>(t.toTwips(design.y()));
    // Positions are 16-bit twips; anything else in the store is not ours.
    auto position = [&](const char* name, int fallback) {
        const int v = store_.ReadSetting(AppName, QString(), QString::fromLatin1(name), fallback).toInt();
        return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max() ? v : fallback;
    };
    windowLeft_ = position("X", defaultLeft);
    windowTop_ = position("Y", defaultTop);
    // A place on a screen that is no longer there would hide the window.
    if (!QGuiApplication::screenAt(QPoint(t.px(windowLeft_), t.px(windowTop_)) + QPoint(width() / 2, 8))) {
        windowLeft_ = defaultLeft;
        windowTop_ = defaultTop;
    }
    move(t.px(windowLeft_), t.px(windowTop_));

    title_ = QStringLiteral("%1 V%2.%3.%4")
                 .arg(AppName)
                 .arg(VARNAK_VERSION_MAJOR)
                 .arg(VARNAK_VERSION_MINOR)
                 .arg(VARNAK_VERSION_PATCH);
    setWindowTitle(title_);
    inverted_ = false;
    indicators_->lightLamps(-1);
    ShowBitstream();
    panels_->setRawState(false);
    for (int g : kPanelGroups) panels_->setPanelState(g, false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    StopCommand();
    const Twips t(dpi_);
    store_.WriteSetting(AppName, QString(), QStringLiteral("X"), t.toTwips(x()));
    store_.WriteSetting(AppName, QString(), QStringLiteral("Y"), t.toTwips(y()));
    event->accept();
}

// ---------------------------------------------------------------------------
// Indicators and panels

void MainWindow::ShowBitstream() {
    status_->panel(4)->setText(inverted_ ? QStringLiteral("Bitstream: Inverted") : QStringLiteral("Bitstream: Direct"));
}

void MainWindow::setRbds(bool on) {
    rbds_ = on;
    panels_->setRbds(on);
    store_.WriteSetting(AppName, QString(), QStringLiteral("RBDS"), on ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Frame processing

const MurlinApi* MainWindow::api(bool reportFailure) {
    if (!api_) {
        std::string error;
        api_ = murlin(&error);
        if (!api_) {
            if (reportFailure)
                notifier_.message(this, AppName,
                                  QStringLiteral("Cannot load the decoder library: %1").arg(QString::fromStdString(error)));
            return nullptr;
        }
        processor_ = std::make_unique<FrameProcessor>(*api_);
        processor_->setListener(this);
        processor_->setProgressInterval(kProgressInterval);
    }
    return api_;
}

void MainWindow::ProcessFrame(const std::string& text, bool fromFile) {
    if (text.empty() || !api(true)) return;
    processor_->setInverted(inverted_);
    deferView_ = true;
    sinceYield_.start();
    processor_->process(text, fromFile);
    deferView_ = false;
    inverted_ = processor_->inverted();
    applyView();
    refreshCounters();
}

void MainWindow::onAutoReset(bool inverted) {
    inverted_ = inverted;
    ShowBitstream();
}

// While a text is decoded, status words and groups are only noted; what they
// leave on the window is drawn at the next yield (applyView). Nothing is
// painted in between, so the window looks the same as if every one had been
// shown, and a long recording decodes at the decoder's speed.
void MainWindow::onStatus(uint16_t status) {
    indicators_->note(rdsformats::StatusWord(status));
    if (observer_) observer_->onStatus(status);
    maybeYield();
}

void MainWindow::onGroup(const DecodedGroup& g) {
    ++runGroups_;
    panels_->note(g);
    if (!deferView_) panels_->applyStates();
    maybeYield();
}

void MainWindow::applyView() {
    indicators_->apply();
    panels_->apply();
}

void MainWindow::onProgress(std::size_t position, std::size_t total) {
    // A stream of unknown length reports a total of 0: not its end.
    if (total != 0 && position >= total) yieldNow();  // after the last group
    else maybeYield();
}

void MainWindow::maybeYield() {
    if (sinceYield_.elapsed() >= yieldMs_) yieldNow();
}

void MainWindow::yieldNow() {
    applyView();
    refreshCounters();
    if (observer_) observer_->runYield();
    // A decode log that cannot be written ends the run: going on would only
    // produce a log with holes in it.
    if ((analysing_ || live_->active()) && !logFailed_ && !log_.error().empty()) {
        logFailed_ = true;
        processor_->requestStop();
        if (live_->active()) StopCommand();  // reports the incomplete log
    }
    QCoreApplication::processEvents();
    sinceYield_.start();
}

void MainWindow::refreshCounters() {
    if (!api_) return;
    status_->panel(1)->setText(CounterText("Total Blocs", api_->RDSStat(0)));
    status_->panel(2)->setText(CounterText("Total Errors", api_->RDSStat(1)));
    status_->panel(3)->setText(CounterText("Total CRC corrected", api_->RDSStat(2)));
}

// ---------------------------------------------------------------------------
// Commands

void MainWindow::FileCommand() {
    currentPath_.clear();
    const QString chosen =
        notifier_.openFileName(this, QStringLiteral("Load "), QDir::currentPath(),
                               QStringLiteral("Recordings (*.txt *.bit *.hex *.wav *.flac);;All files (*)"));
    if (chosen.isEmpty()) return;  // cancelled
    AnalyseFile(chosen);
}

InputFile::Result MainWindow::readRecording(InputFile& in, char* buffer, std::size_t capacity, std::size_t& got) {
    for (;;) {
        const InputFile::Result r = in.read(buffer, capacity, got, in.isStream() ? kStreamWaitMs : -1);
        if (r != InputFile::Result::Again) return r;
        // A silent stream: show what was decoded and serve the window's
        // events, Stop among them, before waiting again.
        yieldNow();
        if (stopCount_ != analysisStops_) return InputFile::Result::End;
    }
}

// Opens the decode log of the recording at `path`; false (the user was
// told) when it cannot be, or when it would replace the recording itself.
bool MainWindow::openFileLog(const QString& path) {
    const std::string logPath = DecodeLogPath(QFile::encodeName(path).toStdString());
    const QString logName = QFile::decodeName(QByteArray::fromStdString(logPath));
    if (QFileInfo(logName).exists() && QFileInfo(logName).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) {
        // "morning.out" would become its own decode log and be emptied.
        notifier_.message(this, AppName,
                          QStringLiteral("Cannot analyse %1: its decode log would replace the recording itself.").arg(path));
        return false;
    }
    if (!log_.open(logPath)) {
        notifier_.message(this, AppName, Sentence(log_.error()));
        return false;
    }
    status_->showMessage(QStringLiteral("Decode log: %1").arg(QFileInfo(logName).absoluteFilePath()));
    return true;
}

// A run begins: the decoder starts afresh and the log takes its groups.
void MainWindow::beginRun(bool live) {
    api_->RDSInit();
    if (observer_) observer_->runStarted(*api_, *processor_, live);
    panels_->clearLines();
    processor_->clearStop();
    processor_->setLog(&log_);
    logFailed_ = false;
    runGroups_ = 0;
    setWindowTitle(title_);
}

void MainWindow::reportNoGroups(const QString& path) {
    const QString name = path == QLatin1String("-") ? QStringLiteral("standard input") : QFileInfo(path).fileName();
    notifier_.message(this, AppName, QStringLiteral("No RDS group found in %1").arg(name));
}

bool MainWindow::AnalyseFile(const QString& path) {
    if (analysing_) return false;
    currentPath_ = path;
    if (path.isEmpty()) return true;
    if (mpxRate_) return RunRadio(path);

    // Read piece by piece: memory stays the same whatever the length, and a
    // pipe or a device is a stream decoded as it comes, until it ends or
    // Stop is pressed.
    InputFile in;
    auto cannotRead = [&] {
        notifier_.message(this, AppName,
                          QStringLiteral("Cannot read the file %1: %2").arg(path, QString::fromLocal8Bit(in.error())));
    };
    if (!in.open(QFile::encodeName(path).toStdString())) {
        cannotRead();
        return false;
    }
    const int stops = analysisStops_ = stopCount_;
    const bool stopWasEnabled = stopit_->isEnabled();
    auto running = [&] {
        file_->setEnabled(false);
        card_->setEnabled(false);
        stopit_->setEnabled(true);
    };
    auto notRunning = [&] {
        if (!in.isStream()) return;
        file_->setEnabled(true);
        card_->setEnabled(true);
        stopit_->setEnabled(stopWasEnabled);
    };
    // A stream may keep the window waiting for its first data: Stop ends that.
    if (in.isStream()) {
        running();
        analysing_ = true;
        if (processor_) processor_->clearStop();
    }
    std::vector<char> buffer(kReadChunk);
    std::size_t got = 0;
    InputFile::Result r = readRecording(in, buffer.data(), buffer.size(), got);
    analysing_ = false;
    if (stopCount_ != stops) return true;  // stopped while waiting: Stop made the window idle
    if (r != InputFile::Result::Data) {
        notRunning();
        if (r == InputFile::Result::End)
            notifier_.message(this, AppName, QStringLiteral("Cannot analyse %1: it is empty.").arg(path));
        else
            cannotRead();
        return false;
    }

    // The kind of recording is judged by its content, not by its name.
    using rdsformats::RecordingKind;
    const RecordingKind kind =
        rdsformats::DetectRecording(std::string_view(buffer.data(), std::min(got, rdsformats::GroupLogReader::kHeadSize)));
    if (kind == RecordingKind::Audio && in.isStream()) {
        notRunning();
        notifier_.message(this, AppName,
                          QStringLiteral("Cannot analyse %1: audio is read from files only; raw multiplex samples from "
                                         "a pipe need --mpx-rate.")
                              .arg(path));
        return false;
    }
    // A stream is bit text unless it shows another kind: any character but
    // "1" is a zero bit there, as it always was.
    if (kind == RecordingKind::Audio || (kind == RecordingKind::Unknown && !in.isStream())) {
        in.close();
        RadioInput input;
        input.path = QFile::encodeName(path).toStdString();
        input.realtime = realtime_;
        std::string error;
        std::unique_ptr<RadioRun> run = RadioRun::open(input, error);
        if (!run) {
            notifier_.message(this, AppName,
                              kind == RecordingKind::Audio
                                  ? (error.rfind("cannot ", 0) == 0 ? Sentence(error)
                                                                    : QStringLiteral("Cannot analyse %1")
                                                                          .arg(QString::fromLocal8Bit(error)))
                                  : QStringLiteral("Cannot analyse %1: it is no recording of a kind Varnak reads (bit "
                                                   "text, hexadecimal text or audio).")
                                        .arg(path));
            return false;
        }
        return runRadio(std::move(run), path, false);
    }
    if (!api(true)) {
        setIdleButtons();
        return false;
    }
    running();
    if (!openFileLog(path)) {
        setIdleButtons();
        return false;
    }
    beginRun(false);
    analysing_ = true;

    const bool groupLog = kind == RecordingKind::GroupLog, hex = kind == RecordingKind::Hex;
    // Broadcast speed in characters: a bit each, or four bits a digit.
    const double perSecond = hex ? kBitRate / 4 : kBitRate;
    HexText hexText;
    QString badText;
    processor_->setInverted(inverted_);
    deferView_ = true;
    sinceYield_.start();
    sincePlay_.start();
    played_ = 0;
    bool readFailed = false;
    if (groupLog) {
        readFailed = !feedGroupLog(in, buffer, got, path);
    } else {
        processor_->beginStream(!hex, in.size());
        for (;;) {
            if (hex && !hexText.clean(buffer.data(), got)) badText = QString::fromStdString(hexText.error());
            if (!feedPaced(buffer.data(), got, perSecond) || !badText.isEmpty()) break;
            r = readRecording(in, buffer.data(), buffer.size(), got);
            if (r == InputFile::Result::Failed) readFailed = true;
            if (r != InputFile::Result::Data) break;
        }
        if (!readFailed && badText.isEmpty()) processor_->endStream();
    }
    deferView_ = false;
    if (observer_) observer_->runEnded();
    inverted_ = processor_->inverted();
    applyView();
    refreshCounters();

    QString failure;
    if (readFailed)
        failure = QStringLiteral("Cannot read the file %1: %2").arg(path, QString::fromLocal8Bit(in.error()));
    else if (!badText.isEmpty())
        failure = QStringLiteral("Cannot analyse %1 to its end: %2. The decode log holds the groups before it.")
                      .arg(path, badText);
    return endRun(path, stopCount_ != stops, failure);
}

// Ends a run: the decode log is closed, and what went wrong (`failure`, if
// not empty) or a run that found no group is told. False when either.
bool MainWindow::endRun(const QString& path, bool stopped, const QString& failure) {
    processor_->setLog(nullptr);
    analysing_ = false;
    file_->setEnabled(true);
    card_->setEnabled(true);
    bool ok = closeLog();
    if (!failure.isEmpty()) {
        notifier_.message(this, AppName, failure);
        ok = false;
    } else if (ok && !stopped && runGroups_ == 0) {
        reportNoGroups(path);
        ok = false;
    }
    if (!ok) setIdleButtons();
    emit analysisFinished(ok);
    return ok;
}

// Decodes a group log, whose first piece is in `buffer`: its groups become
// the bits an encoder would have sent, fed piece by piece; malformed lines
// are skipped and reported. False when the file could not be read on.
bool MainWindow::feedGroupLog(InputFile& in, std::vector<char>& buffer, std::size_t got, const QString& path) {
    rdsformats::GroupLogReader reader;
    std::string bits;
    const auto onGroup = [&bits](const rdsformats::GroupRecord&, const std::string& groupBits) { bits += groupBits; };
    // The groups carry their own polarity: none to search for.
    inverted_ = false;
    ShowBitstream();
    processor_->setInverted(false);
    processor_->setPolaritySearch(false);
    processor_->beginStream(true, 0);  // the log's size says nothing of its bits
    bool readFailed = false, going = true;
    for (bool more = true; more && going;) {
        reader.feed(buffer.data(), got, onGroup);
        going = feedPaced(bits.data(), bits.size(), kBitRate);
        bits.clear();
        if (!going) break;
        const InputFile::Result r = readRecording(in, buffer.data(), buffer.size(), got);
        readFailed = r == InputFile::Result::Failed;
        more = r == InputFile::Result::Data;
        if (!more && !readFailed) {
            reader.finish(onGroup);
            going = feedPaced(bits.data(), bits.size(), kBitRate);
        }
    }
    if (going && !readFailed) processor_->endStream();
    processor_->setPolaritySearch(true);
    if (!reader.parser().report().empty())
        notifier_.message(this, AppName, QStringLiteral("%1: %2").arg(path, QString::fromStdString(reader.parser().report())));
    return !readFailed;
}

// Feeds a piece of a recording; at broadcast speed, a tenth of a second of
// it at a time, each when its time has come. False once the run must end.
bool MainWindow::feedPaced(const char* data, std::size_t size, double perSecond) {
    if (!realtime_) return processor_->feed(data, size);
    const std::size_t slice = std::max<std::size_t>(1, static_cast<std::size_t>(perSecond / 10));
    for (std::size_t at = 0; at < size; at += slice) {
        const std::size_t n = std::min(slice, size - at);
        if (!processor_->feed(data + at, n)) return false;
        played_ += n;
        const qint64 due = static_cast<qint64>(static_cast<double>(played_) * 1000.0 / perSecond);
        const qint64 wait = due - sincePlay_.elapsed();
        if (wait > 0) {
            applyView();
            refreshCounters();
            QEventLoop pause;
            QTimer::singleShot(static_cast<int>(wait), &pause, &QEventLoop::quit);
            pause.exec();
            sinceYield_.start();
        }
        if (stopCount_ != analysisStops_ || processor_->stopRequested()) return false;
    }
    return true;
}

bool MainWindow::RunRadio(const QString& path) {
    if (analysing_ || !mpxRate_) return false;
    currentPath_ = path;
    RadioInput input;
    input.path = path == QLatin1String("-") ? std::string("-") : QFile::encodeName(path).toStdString();
    input.rawRate = mpxRate_;
    input.realtime = realtime_;
    std::string error;
    std::unique_ptr<RadioRun> run = RadioRun::open(input, error);
    if (!run) {
        notifier_.message(this, AppName, QStringLiteral("Cannot start the radio run: %1").arg(QString::fromLocal8Bit(error)));
        return false;
    }
    const bool live = run->isLive();
    return runRadio(std::move(run), path, live);
}

// Runs `run` until its input ends or Stop is pressed, the event loop going
// on meanwhile. A live run logs into Radio.out in the current directory, a
// recording into its decode log beside it.
bool MainWindow::runRadio(std::unique_ptr<RadioRun> run, const QString& path, bool live) {
    if (!api(true)) return false;
    file_->setEnabled(false);
    card_->setEnabled(false);
    stopit_->setEnabled(true);
    if (live) {
        currentPath_ = QDir(QDir::currentPath()).filePath(QStringLiteral("Radio.out"));
        if (!log_.open(QFile::encodeName(currentPath_).toStdString())) {
            notifier_.message(this, AppName, Sentence(log_.error()));
            setIdleButtons();
            return false;
        }
        status_->showMessage(QStringLiteral("Decode log: %1").arg(currentPath_));
    } else if (!openFileLog(path)) {
        setIdleButtons();
        return false;
    }
    beginRun(live);
    analysing_ = true;
    const int stops = analysisStops_ = stopCount_;

    radio_ = std::move(run);
    radioLive_ = live;
    radioState_ = RadioRun::State{};
    radioState_.lastSamples = RadioRun::Clock::now();
    QEventLoop loop;
    radioLoop_ = &loop;
    QTimer timer;
    timer.setInterval(kRadioShowMs);
    connect(&timer, &QTimer::timeout, this, [this] {
        drainRadio();
        showRadioState();
    });
    timer.start();
    processor_->setInverted(inverted_);
    processor_->beginStream(true, 0);
    sinceYield_.start();
    yieldMs_ = kRadioViewMs;
    // Called on the worker thread: the bits are taken on this one.
    radio_->start([this] { QMetaObject::invokeMethod(this, [this] { drainRadio(); }, Qt::QueuedConnection); });
    showRadioState();
    loop.exec();
    radioLoop_ = nullptr;
    timer.stop();
    radio_->stop();
    const bool stopped = stopCount_ != stops;
    if (!stopped) {
        drainRadio();  // the last bits, after the worker's end
        processor_->endStream();
    }
    if (observer_) observer_->runEnded();
    inverted_ = processor_->inverted();
    yieldMs_ = kYieldIntervalMs;
    applyView();
    refreshCounters();
    const RadioRun::State state = radioState_;
    // What the run ended with stays in the title; after Stop it goes.
    if (stopped) setWindowTitle(title_);
    else showRadioState();
    radio_.reset();

    if (live) stopit_->setEnabled(false);  // nothing is left to stop
    QString failure;
    if (!state.error.empty())
        failure = Sentence(state.error);
    else if (!stopped && !state.truncation.empty())
        failure = QStringLiteral("%1. The decode log holds the groups of the part that is there.")
                      .arg(Sentence(state.truncation));
    return endRun(path, stopped, failure);
}

// Decodes the bits the radio worker has handed over, and shows its state.
void MainWindow::drainRadio() {
    if (!radio_ || draining_) return;
    draining_ = true;
    std::string bits;
    bool going = true;
    for (;;) {
        radioState_ = radio_->take(bits);
        if (bits.empty()) break;
        // One stream for the whole run: the view is drawn when it is due,
        // not after every batch, which comes every few milliseconds.
        processor_->setInverted(inverted_);
        deferView_ = true;
        going = processor_->feed(bits.data(), bits.size());
        deferView_ = false;
        inverted_ = processor_->inverted();
        bits.clear();
        if (!going) break;
    }
    if (sinceYield_.elapsed() >= yieldMs_) {
        applyView();
        refreshCounters();
        sinceYield_.start();
    }
    draining_ = false;
    if (radioLoop_ && (radioState_.ended || !going)) radioLoop_->quit();
}

// The radio run's state in the window title, where it moves no control:
// progress through a recording, the signal (as murlin-decode sums it up),
// and plainly when a live input has ended or gone silent.
void MainWindow::showRadioState() {
    if (!radio_) return;
    const RadioRun::State& s = radioState_;
    QStringList parts;
    if (!radioLive_ && s.total && *s.total > 0 && !s.ended)
        parts << QStringLiteral("%1 %2 %").arg(QString::fromStdString(radio_->name())).arg(s.samples * 100 / *s.total);
    if (s.samples > 0) parts << QString::fromStdString(SignalText(s.signal));
    if (radioLive_) {
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(RadioRun::Clock::now() - s.lastSamples);
        if (s.ended) parts << QStringLiteral("input ended");
        else if (silent.count() >= kSilenceMs) parts << QStringLiteral("no samples for %1 s").arg(silent.count() / 1000);
        else if (s.samples == 0) parts << QStringLiteral("waiting for samples");
    }
    setWindowTitle(parts.isEmpty() ? title_ : title_ + QStringLiteral(" - ") + parts.join(QStringLiteral(", ")));
}

void MainWindow::CardCommand() {
    daskel_->CardDisconnect();
    if (!configDialog_) configDialog_ = new ConfigDialog(notifier_, this);
    configDialog_->setHostNam(cardHost_);
    configDialog_->setHostSvc(QString::number(cardPort_));
    configDialog_->setIFInput(3);
    configDialog_->exec();
    if (configDialog_->CardNum() <= 0) return;  // cancelled, or no card chosen

    const QString portText = configDialog_->HostSvc();
    bool isNumber = false;
    const int portValue = portText.toInt(&isNumber);
    if (!isNumber || portValue < 1 || portValue > 65535) {
        notifier_.message(this, AppName,
                          QStringLiteral("Err:-1 - Connect Error: the port \"%1\" is not a number from 1 to 65535")
                              .arg(portText));
        return;
    }
    QString host = configDialog_->HostNam();
    quesmer::Long port = portValue;
    quesmer::Integer number = static_cast<quesmer::Integer>(configDialog_->CardNum());
    const quesmer::Integer result = daskel_->CardConnectByNumber(host, port, number);
    if (result != 0) {
        // The control's text for the result; for -1 also why no card was selected.
        quesmer::Integer code = result;
        const QString reason = daskel_->link().connectErrorText(code);
        notifier_.message(this, AppName, QStringLiteral("Err:%1 - %2").arg(result).arg(reason));
        return;
    }
    cardHost_ = configDialog_->HostNam();
    cardPort_ = portValue;
    store_.WriteSetting(AppName, QString(), QStringLiteral("HostName"), cardHost_);
    store_.WriteSetting(AppName, QString(), QStringLiteral("HostPort"), cardPort_);

    file_->setEnabled(false);
    card_->setEnabled(false);
    const int stops = stopCount_;
    quesmer::sendRdsStartSequence(daskel_->link(), static_cast<quesmer::Integer>(configDialog_->IFInput()),
                                  startPause_);
    // Closing the window during the set-up ran Stop: the window stays idle.
    if (stopCount_ != stops) return;
    if (!startLiveRun()) {
        daskel_->CardDisconnect();
        setIdleButtons();
    }
}

// Opens Card.out in the current directory, resets the decoder and lets the
// card's data through. False (the user was told) when that cannot be done.
bool MainWindow::startLiveRun() {
    if (!api(true)) return false;
    currentPath_ = QDir(QDir::currentPath()).filePath(QStringLiteral("Card.out"));
    if (!log_.open(QFile::encodeName(currentPath_).toStdString())) {
        notifier_.message(this, AppName, Sentence(log_.error()));
        return false;
    }
    logFailed_ = false;
    // Started from the desktop's menu the current folder is not obvious: say
    // where the log goes.
    status_->showMessage(QStringLiteral("Decode log: %1").arg(currentPath_));
    api_->RDSInit();
    if (observer_) observer_->runStarted(*api_, *processor_, true);
    panels_->clearLines();
    processor_->clearStop();
    processor_->setLog(&log_);
    stopit_->setEnabled(true);
    live_->start();
    return true;
}

bool MainWindow::CardActive() const { return live_->active(); }

void MainWindow::StopCommand() {
    ++stopCount_;
    if (processor_) processor_->requestStop();
    live_->stop();
    if (radio_) radio_->stop();
    if (radioLoop_) radioLoop_->quit();
    daskel_->CardDisconnect();
    if (observer_ && !analysing_) observer_->runEnded();  // an analysis tells it when its decoding returns
    setIdleButtons();
    // A file analysis resets the log itself when its decoding returns.
    if (processor_ && !analysing_) processor_->setLog(nullptr);
    closeLog();
}

void MainWindow::setIdleButtons() {
    file_->setEnabled(true);
    card_->setEnabled(true);
    stopit_->setEnabled(false);
}

// Closes the decode log; a log that could not be written completely is
// reported once, so nobody mistakes it for a complete one.
bool MainWindow::closeLog() {
    if (!log_.isOpen()) return !logFailed_;
    if (!log_.close() || logFailed_) {
        logFailed_ = true;
        notifier_.message(this, AppName, QStringLiteral("The decode log is incomplete. %1").arg(Sentence(log_.error())));
        return false;
    }
    return true;
}

void MainWindow::PanelClick(int number) {
    if (number < 4) {
        if (api(false)) api_->RDSStat(-1);
        // Show the cleared counts now, not only at the next decoded bit.
        refreshCounters();
    } else if (number == 4) {
        inverted_ = !inverted_;
        if (processor_) processor_->setInverted(inverted_);
        ShowBitstream();
    }
}

}  // namespace varnak
