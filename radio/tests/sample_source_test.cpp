// Reading multiplex recordings: the samples of the chosen channel, raw PCM
// through a FIFO in odd pieces, and one clear line for every unusable file.
#include "sample_source.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace varnak::radio;
namespace fs = std::filesystem;

namespace {

class SampleSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("sample_source_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // A 16-bit WAV (or `format`) whose sample i of channel c is (i * channels + c) / 32768.
    std::string wav(const std::string& name, int rate, int channels, int frames,
                    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16)
    {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
        std::vector<short> data(size_t(frames * channels));
        for (size_t i = 0; i < data.size(); ++i) data[i] = short(i % 30000);
        sf_writef_short(f, data.data(), frames);
        sf_close(f);
        return path(name);
    }

    std::string file(const std::string& name, const std::string& bytes)
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }

    static std::vector<float> ReadAll(SampleSource& s, size_t chunk = 1000)
    {
        std::vector<float> all, part(chunk);
        while (size_t n = s.read(part.data(), chunk)) all.insert(all.end(), part.begin(), part.begin() + long(n));
        return all;
    }

    fs::path dir_;
};

}  // namespace

TEST_F(SampleSourceTest, ReadsTheChosenChannelOfAnAudioFile)
{
    const std::string name = wav("stereo.wav", 192000, 2, 5000);
    auto source = SampleSource::openAudio(name, 2);
    EXPECT_EQ(source->sampleRate(), 192000);
    EXPECT_EQ(source->frames(), 5000u);
    const auto samples = ReadAll(*source, 777);
    ASSERT_EQ(samples.size(), 5000u);
    for (size_t i : {size_t(0), size_t(1234), size_t(4999)})
        EXPECT_EQ(samples[i], float((i * 2 + 1) % 30000) / 32768) << i;
    EXPECT_EQ(source->truncation(), "");
}

TEST_F(SampleSourceTest, UnusableFilesGiveOneLineNamingTheFile)
{
    const std::string text = file("notes.txt", std::string(2000, 'x'));
    const std::string slow = wav("slow.wav", 48000, 1, 100);
    const std::string mono = wav("mono.wav", 171000, 1, 100);
    const std::string empty = wav("empty.wav", 171000, 1, 0);
    const std::string emptyRaw = file("empty.raw", "");
    // A WAV header that says its sample rate is 0 (libsndfile: "Internal
    // error : SF_INFO struct incomplete"), and one that ends before its
    // sample data begins.
    std::string rateZero("RIFF\x28\x01\0\0WAVEfmt \x10\0\0\0\1\0\1\0", 24);
    rateZero += std::string(8, '\0') + std::string("\2\0\x10\0data\0\x01\0\0", 12) + std::string(256, '\0');
    const std::string noRate = file("rate0.wav", rateZero);
    // A WAV header that ends before its sample data begins.
    const std::string noData = file("nodata.wav", std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\1\0\1\0", 22));
    struct Case {
        std::string path;
        int channel;
        bool raw;
        std::string message;
    };
    const Case cases[] = {
        // In our words, never the audio library's own texts.
        {text, 1, false,
         text + ": not an audio file: its format is none of the audio formats read (WAV, FLAC, AIFF, ...)"},
        {path("missing.wav"), 1, false, "cannot open " + path("missing.wav") + ": No such file or directory"},
        {path(""), 1, false, path("") + ": is a directory"},
        {noData, 1, false, noData + ": not an audio file: its header is damaged or incomplete"},
        {noRate, 1, false, noRate + ": not an audio file: its header is damaged or incomplete"},
        {slow, 1, false,
         slow + ": the sample rate is 48000 Hz; RDS sits at 57 kHz; the multiplex needs at least 128 kHz"},
        {mono, 2, false, mono + ": has 1 channel, no channel 2"},
        {mono, 0, false, mono + ": has 1 channel, no channel 0"},
        {empty, 1, false, empty + ": holds no samples"},
        {emptyRaw, 1, true, emptyRaw + ": holds no samples"},
        {path("missing.raw"), 1, true, "cannot open " + path("missing.raw") + ": No such file or directory"},
    };
    for (const Case& c : cases) {
        try {
            if (c.raw)
                (void)SampleSource::openRaw(c.path, 171000);
            else
                (void)SampleSource::openAudio(c.path, c.channel);
            ADD_FAILURE() << c.path << " opened";
        } catch (const SampleSourceError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
    EXPECT_THROW((void)SampleSource::openRaw(mono, 96000), std::invalid_argument);
}

TEST_F(SampleSourceTest, TruncatedFilesYieldWhatIsThereAndSaySo)
{
    struct Case {
        std::string path;
        bool raw;
        size_t samples;
        std::string truncation;
    };
    const auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string whole = bytes(wav("whole.wav", 171000, 2, 1000));
    const std::string cut = file("cut.wav", whole.substr(0, whole.size() - 1001));  // 749 frames and 3 bytes
    const std::string odd = file("odd.raw", std::string(2001, '\x01'));
    const std::string even = file("even.raw", std::string(2000, '\x01'));
    const Case cases[] = {
        {cut, false, 749, cut + " is truncated: its header promises 4000 bytes of samples, the file holds 2999"},
        {odd, true, 1000, odd + " is truncated: it ends in the middle of a sample (odd byte count)"},
        {even, true, 1000, ""},
    };
    for (const Case& c : cases) {
        auto source = c.raw ? SampleSource::openRaw(c.path, 171000) : SampleSource::openAudio(c.path);
        EXPECT_EQ(ReadAll(*source).size(), c.samples) << c.path;
        EXPECT_EQ(source->truncation(), c.truncation);
    }
    // A FLAC cut in half fails to decode where it breaks off: the samples before count.
    const std::string flac = bytes(wav("whole.flac", 171000, 1, 40000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    const std::string cutFlac = file("cut.flac", flac.substr(0, flac.size() / 2));
    auto source = SampleSource::openAudio(cutFlac);
    const size_t got = ReadAll(*source).size();
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, 40000u);
    EXPECT_EQ(source->truncation(),
              cutFlac + " is truncated: its header promises 40000 samples, " + std::to_string(got) + " could be read");
}

TEST_F(SampleSourceTest, RawPcmStreamsFromAFifoInAnyPieces)
{
    const std::string fifo = path("mpx.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Samples -32768, -1, 0, 1, 32767 repeated, written in pieces of 3 bytes so
    // that samples are split between reads.
    const std::string pattern("\x00\x80\xff\xff\x00\x00\x01\x00\xff\x7f", 10);
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        std::string all;
        for (int i = 0; i < 300; ++i) all += pattern;
        for (size_t at = 0; at < all.size(); at += 3) {
            const size_t n = std::min<size_t>(3, all.size() - at);
            EXPECT_EQ(::write(fd, all.data() + at, n), ssize_t(n));
        }
        ::close(fd);
    });
    auto source = SampleSource::openRaw(fifo, 228000);
    EXPECT_FALSE(source->frames());
    const auto samples = ReadAll(*source, 64);
    writer.join();
    ASSERT_EQ(samples.size(), 1500u);
    const float expected[] = {-1.0f, -1.0f / 32768, 0.0f, 1.0f / 32768, 32767.0f / 32768};
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], expected[i % 5]) << i;
    EXPECT_EQ(source->truncation(), "");
}
