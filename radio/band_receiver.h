// Every FM station of an IQ capture at once: finds the carriers, cuts each
// station's channel out of the capture (one FFT for all of them), and runs
// one FM discriminator and RDS demodulator per station. A push object:
// samples in, each station's RDS bits out through a callback, with what is
// known of each station (frequency, level, C/N, deviation, injections,
// whether it is still there).
//
// Finding stations: the first quarter second of the capture is held back
// and searched, then fed, so a recording loses none of its first groups.
// With `keepLooking` (live input) the search runs again every second on the
// second's average: a station that appears later is picked up; one that is
// no longer seen for five searches in a row is dropped from decoding and
// kept with its last-seen time, and picked up again if it comes back. With
// fixed frequencies (one station, --freq) nothing is searched.
//
// Memory is bounded: the held-back quarter second, the channeliser's
// transform and a few tens of kilobytes per station.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station_receiver.h"

namespace varnak::radio {

struct BandConfig {
    double rate = 2.4e6;      // of the capture, samples per second
    double centerHz = 0;      // the capture's centre frequency
    double rasterHz = 100e3;  // 100e3, or 200e3 (odd tenths of a MHz, the Americas)
    // The stations to decode; empty: find them.
    std::vector<double> frequencies;
    // Search again every `searchSeconds` (live input); else once at the
    // start. A station not seen in `missesBeforeLost` searches in a row is lost.
    bool keepLooking = false;
    double searchSeconds = 1.0;
    int missesBeforeLost = 5;
};

struct BandStation {
    int id = 0;                // 0, 1, ... in the order found; never reused
    double frequencyHz = 0;    // on the raster (or as given)
    double cnDb = 0;           // RF C/N in 200 kHz at the last search (NaN when not searched)
    bool active = true;        // decoded now; false once lost
    uint64_t firstSample = 0;  // capture sample where it was found
    uint64_t lastSeenSample = 0;
    StationSignal signal;
};

class BandReceiver {
public:
    using BitsSink = std::function<void(int station, const std::string& bits)>;
    // A station was found (or found again after being lost), or was lost.
    using StationSink = std::function<void(const BandStation& station, bool found)>;

    // Throws std::invalid_argument for a rate out of range or a fixed
    // frequency whose channel does not fit inside the capture (the message
    // names it and the capture's usable range).
    explicit BandReceiver(const BandConfig& config);
    ~BandReceiver();
    BandReceiver(const BandReceiver&) = delete;
    BandReceiver& operator=(const BandReceiver&) = delete;

    void setBitsSink(BitsSink sink) { bitsSink_ = std::move(sink); }
    void setStationSink(StationSink sink) { stationSink_ = std::move(sink); }

    void push(const std::complex<float>* samples, std::size_t count);
    // End of input: what is held back is searched and fed, and every station
    // hands over its last bits.
    void finish();

    // Every station found so far, lost ones included, by id.
    std::vector<BandStation> stations() const;
    // The signal of one station now (of its last second while it was decoded).
    StationSignal signalOf(int id) const;
    // Capture samples consumed.
    uint64_t samples() const { return samples_; }
    // The capture's usable range, where a station's channel fits.
    double lowestHz() const;
    double highestHz() const;
    // The last second's averaged spectrum (DC in the middle), for display;
    // empty until the first search.
    const std::vector<double>& spectrum() const;

private:
    struct Station;
    void search();
    void start();
    void addChannel(Station& station);
    void onSpectrum(const std::vector<float>& power);

    BandConfig config_;
    std::unique_ptr<class Channelizer> channelizer_;
    std::unique_ptr<class CarrierFinder> finder_;
    std::vector<std::unique_ptr<Station>> stations_;
    std::vector<std::complex<float>> held_;  // the first samples, until the first search
    bool started_ = false;
    uint64_t samples_ = 0;
    uint64_t nextSearch_ = 0;
    BitsSink bitsSink_;
    StationSink stationSink_;
    std::string bits_;  // reused
};

}  // namespace varnak::radio
