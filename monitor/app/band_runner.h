// The band run: every station of an IQ capture decoded at once. A BandRun
// takes the capture apart on its worker thread; here, on the window's
// thread, each station's bits go to a frame processor of its own (with its
// own decoder in the library) and its own decode log. One station at a time
// is the main window's: its events reach the panels, indicators and the
// history window; picking another replays that station's last group of
// every type, so the panels show its current state at once, and hands the
// history window the history that station has gathered since it was found.
//
// A recording logs each station beside it ("morning-98.50.out" for
// "morning.cu8"), live input into "Band-98.50.out" in the current folder;
// murlin-decode names them the same way. The stations' table (a
// BandStationModel) and the last spectrum are what the band window shows.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "band_run.h"
#include "band_stations.h"

namespace varnak {

class RunContext;

class BandRunner : public QObject {
    Q_OBJECT
public:
    explicit BandRunner(RunContext& context);
    ~BandRunner() override;
    BandRunner(const BandRunner&) = delete;
    BandRunner& operator=(const BandRunner&) = delete;

    // Starts a band run on `input`; false (the user was told) when it
    // cannot be. `path` is the recording as the user named it.
    bool start(const BandInput& input, const QString& path);
    bool active() const { return run_ != nullptr; }
    // Stop: the worker is gone on return.
    void halt();
    // Stop, after the shared part of it: the run ends as stopped.
    void stopped();

    // What the band window shows.
    BandStationModel& model() { return model_; }
    const std::vector<double>& spectrum() const { return spectrum_; }
    // The capture's centre and rate (0 before the first run).
    double centerHz() const { return centerHz_; }
    double sampleRate() const { return rate_; }
    // The station the main window shows, or -1.
    int selected() const { return selected_; }
    // Makes station `id` the main window's, from its current state.
    void select(int id);
    // Where station `id`'s decode log goes (empty for an unknown id).
    QString logPath(int id) const;

signals:
    // A band run has begun (the band window opens).
    void started();
    // The table, the spectrum or the selection changed.
    void updated();

private:
    class Station;
    void drain();
    void take();
    void show();
    void finish(bool stopped, bool complete);
    Station& station(const radio::BandStation& s);
    BandStationRow row(Station& s) const;
    void showState();

    RunContext& context_;
    std::unique_ptr<BandRun> run_;
    std::map<int, std::unique_ptr<Station>> stations_;
    BandStationModel model_;
    std::vector<double> spectrum_;
    double centerHz_ = 0;
    double rate_ = 0;
    int selected_ = -1;
    std::string base_;  // the stations' decode logs: StationPath(base_, label)
    QString path_;
    bool live_ = false;
    BandRun::Batch batch_;
    std::string failure_;  // a station's log that could not be opened or written
    QTimer timer_;
    QElapsedTimer sinceView_;
};

}  // namespace varnak
