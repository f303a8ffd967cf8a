// The File run: a recording analysed into its decode log beside it. Its kind
// is recognised by its content: bit text, hexadecimal text as the card sends
// it and group logs are decoded here; an audio recording becomes a radio run.
//
// Text is decoded in slices: each slice feeds the recording until its time
// budget (about one screen refresh) is used up, lets the window draw, and
// returns to the event loop; a zero-interval timer starts the next slice.
// Stop ends the chain at once. A pipe or a device is text decoded as it
// comes, until it ends or Stop.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "input_file.h"

namespace varnak {

class RadioRunner;
class RunContext;

class FileRunner : public QObject {
public:
    // `radio` takes over an audio recording.
    FileRunner(RunContext& context, RadioRunner& radio);
    ~FileRunner() override;
    FileRunner(const FileRunner&) = delete;
    FileRunner& operator=(const FileRunner&) = delete;

    // Starts the analysis of `path` (see RunController::analyseFile).
    bool start(const QString& path);
    // A run is in progress, or waits for a stream's first data.
    bool active() const { return run_ != nullptr; }
    // Stop: no slice runs any more.
    void halt();
    // Stop, after the shared part of it: the run ends as stopped.
    void stopped();

private:
    struct Run;

    bool afterFirstRead(InputFile::Result result);
    bool startAudioFile(bool audio);
    bool startText(bool groupLog, bool hex);
    void slice();
    void nextSlice();
    void waitSlice();
    void loadPiece();
    void finish(bool complete, bool stopped);
    // Drops the run; a stream from standard input is let go (see
    // ReleaseStandardInput).
    void drop();

    RunContext& context_;
    RadioRunner& radio_;
    std::unique_ptr<Run> run_;
    QTimer slice_;
};

}  // namespace varnak
