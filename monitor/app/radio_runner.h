// The radio run: the FM multiplex from an audio recording or raw samples
// (standard input, a FIFO, a device or a file) demodulated by a RadioRun on
// its worker thread, whose bits are decoded whenever the worker hands them
// over. A live input logs into Radio.out in the current directory, a
// recording into its decode log beside it. The window title shows the run's
// state: progress through a recording, the signal, and whether a live input
// has ended or gone silent.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

#include "radio_run.h"

namespace varnak {

class RunContext;

class RadioRunner : public QObject {
public:
    explicit RadioRunner(RunContext& context);
    ~RadioRunner() override;
    RadioRunner(const RadioRunner&) = delete;
    RadioRunner& operator=(const RadioRunner&) = delete;

    // Starts a run on raw s16le samples at `rate` from `path` (see
    // RunController::runRadio).
    bool startRaw(const QString& path, double rate);
    // Starts the analysis of the audio recording at `path`; when `audio` is
    // false the file was recognised as nothing at all, which the message
    // says if libsndfile cannot read it either.
    bool startAudioFile(const QString& path, bool audio);
    bool active() const { return run_ != nullptr; }
    // Stop: the worker is gone on return.
    void halt();
    // Stop, after the shared part of it: the run ends as stopped.
    void stopped();

private:
    bool start(std::unique_ptr<RadioRun> run, const QString& path, bool live);
    void drain();
    void feed();
    void showFiles();
    void finish(bool stopped, bool complete);
    void showState();

    RunContext& context_;
    std::unique_ptr<RadioRun> run_;
    RadioRun::State state_;
    QString path_;
    bool live_ = false;
    QTimer timer_;
    QElapsedTimer sinceView_;
};

}  // namespace varnak
