#include "raw_reader.h"

#include <algorithm>

#include "sample_source.h"

namespace varnak::radio {

namespace {
constexpr std::size_t kChunkBytes = std::size_t(1) << 18;
// The longest wait for a silent stream before the stop query is asked again.
constexpr int kStopPollMs = 40;
}  // namespace

RawSampleReader::RawSampleReader(const std::string& path, std::size_t sampleBytes)
    : name_(path == "-" ? "standard input" : path), sampleBytes_(sampleBytes)
{
    if (!file_.open(path)) throw SampleSourceError("cannot open " + path + ": " + file_.error());
    if (!file_.isStream()) {
        if (file_.size() == 0) throw SampleSourceError(path + ": holds no samples");
        samples_ = file_.size() / sampleBytes;
    }
}

std::size_t RawSampleReader::read(std::size_t max, const unsigned char*& data)
{
    if (max == 0 || done_) return 0;
    bytes_.resize(std::max(sampleBytes_, std::min(max * sampleBytes_, kChunkBytes / sampleBytes_ * sampleBytes_)));
    std::size_t have = carry_.size();
    std::copy(carry_.begin(), carry_.end(), bytes_.begin());
    carry_.clear();
    while (have < sampleBytes_) {
        std::size_t got = 0;
        if (stopped_ && stopped_()) {
            // Stopped: what was read of a sample is kept for no one.
            return 0;
        }
        const varnak::InputFile::Result r =
            file_.read(bytes_.data() + have, bytes_.size() - have, got, stopped_ ? kStopPollMs : -1);
        if (r == varnak::InputFile::Result::Again) continue;
        if (r == varnak::InputFile::Result::Failed) throw SampleSourceError(name_ + ": read error: " + file_.error());
        if (r == varnak::InputFile::Result::End) {
            done_ = true;
            partial_ = have;
            return 0;
        }
        have += got;
    }
    const std::size_t samples = have / sampleBytes_;
    carry_.assign(bytes_.begin() + std::ptrdiff_t(samples * sampleBytes_), bytes_.begin() + std::ptrdiff_t(have));
    data = reinterpret_cast<const unsigned char*>(bytes_.data());
    read_ += samples;
    return samples;
}

}  // namespace varnak::radio
