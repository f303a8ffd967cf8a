// Whole samples of a raw recording (no header: samples of a fixed size, one
// after another) from a file, a FIFO or standard input. A pipe hands over
// whatever it has, so a sample may be split between reads; the reader keeps
// the part until the rest comes. A stream also ends when a signal asks the
// program to stop (core's StopSignals, through InputFile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "input_file.h"

namespace varnak::radio {

class RawSampleReader {
public:
    // Throws SampleSourceError when the input cannot be opened, or a regular
    // file is empty. "-" is standard input.
    RawSampleReader(const std::string& path, std::size_t sampleBytes);

    // "standard input" for "-", else the path.
    const std::string& name() const { return name_; }
    // The whole samples a regular file holds; nothing for a stream.
    std::optional<uint64_t> samples() const { return samples_; }

    // Reads up to `max` whole samples; `data` points at their bytes until the
    // next call. 0 at the end. Throws SampleSourceError when reading fails.
    std::size_t read(std::size_t max, const unsigned char*& data);
    // A stream is then waited for in short slices, and read() returns 0 as
    // soon as `stopped` says so, even when the stream is silent: a reader on
    // a worker thread can be ended at once.
    void setStopQuery(std::function<bool()> stopped) { stopped_ = std::move(stopped); }
    // After the end: how many bytes of a last, cut-off sample there were.
    std::size_t partial() const { return partial_; }
    // Whole samples read so far.
    uint64_t read() const { return read_; }

private:
    std::string name_;
    std::size_t sampleBytes_;
    varnak::InputFile file_;
    std::optional<uint64_t> samples_;
    std::vector<char> bytes_;
    std::vector<char> carry_;
    std::size_t partial_ = 0;
    uint64_t read_ = 0;
    bool done_ = false;
    std::function<bool()> stopped_;
};

}  // namespace varnak::radio
