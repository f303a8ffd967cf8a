// Reading IQ captures: every raw format to the same complex values, SigMF
// metadata (what it gives, what it may not say), two-channel audio, and one
// clear line for every unusable input.
#include "iq_source.h"
#include "sdr_source.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace varnak::radio;
namespace fs = std::filesystem;

namespace {

class IqSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("iq_source_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }

    // Everything the source gives.
    static std::vector<std::complex<float>> readAll(IqSource& source)
    {
        std::vector<std::complex<float>> all, chunk(7);
        while (const std::size_t n = source.read(chunk.data(), chunk.size()))
            all.insert(all.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(n));
        return all;
    }

    // The message of the error opening `file` gives, or "" when it opens.
    static std::string openError(const std::string& file, const IqSettings& settings)
    {
        try {
            (void)IqSource::open(file, settings);
            return "";
        } catch (const SampleSourceError& e) {
            return e.what();
        }
    }

    fs::path dir_;
};

std::string Floats(std::initializer_list<float> values)
{
    std::string s(values.size() * sizeof(float), '\0');
    std::memcpy(s.data(), std::data(values), s.size());
    return s;
}

TEST(IqParse, FrequenciesFormatsAndNames)
{
    const struct {
        const char* text;
        std::optional<double> hz;
    } frequencies[] = {{"98500000", 98.5e6}, {"98.5M", 98.5e6},       {"98.5MHz", 98.5e6},   {"2.4m", 2.4e6},
                       {"171k", 171e3},      {"1.2G", 1.2e9},         {"100hz", 100.0},      {"", std::nullopt},
                       {"M", std::nullopt},  {"98.5X", std::nullopt}, {"inf", std::nullopt}, {"9 8", std::nullopt}};
    for (const auto& c : frequencies) {
        const auto got = ParseFrequency(c.text);
        ASSERT_EQ(got.has_value(), c.hz.has_value()) << c.text;
        if (got) {
            EXPECT_DOUBLE_EQ(*got, *c.hz) << c.text;
        }
    }
    for (const IqFormat f : {IqFormat::Cu8, IqFormat::Cs8, IqFormat::Cs16, IqFormat::Cf32})
        EXPECT_EQ(ParseIqFormat(IqFormatName(f)), f);
    EXPECT_EQ(ParseIqFormat("CS16"), IqFormat::Cs16);
    EXPECT_FALSE(ParseIqFormat("s16"));

    const struct {
        const char* name;
        std::optional<double> hz;
    } names[] = {{"/rec/SDRSharp_20240101_120000Z_98500000Hz_IQ.wav", 98.5e6},
                 {"baseband_101700000Hz_12-00-00_01-01-2024.wav", 101.7e6},
                 {"capture_2kHz.wav", std::nullopt},
                 {"/98500000Hz/plain.wav", std::nullopt},
                 {"x12Hz.wav", std::nullopt}};
    for (const auto& c : names) EXPECT_EQ(FrequencyFromName(c.name), c.hz) << c.name;
}

TEST_F(IqSourceTest, EveryRawFormatGivesTheSameSamples)
{
    // (0.5, -0.25) and (-1, 0) in each format, then a cut-off sample.
    const struct {
        IqFormat format;
        std::string bytes;
        float tolerance;
    } cases[] = {
        {IqFormat::Cu8, std::string("\xBF\x60\x00\x80\x01", 5), 0.01f},
        {IqFormat::Cs8, std::string("\x40\xE0\x80\x00\x01", 5), 0.01f},
        {IqFormat::Cs16, std::string("\x00\x40\x00\xE0\x00\x80\x00\x00\x01\x02\x03", 11), 1e-4f},
        {IqFormat::Cf32, Floats({0.5f, -0.25f, -1.0f, 0.0f}) + "\x01\x02\x03", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(IqFormatName(c.format));
        const std::string file = write(std::string("raw.") + IqFormatName(c.format), c.bytes);
        const auto source = IqSource::open(file, {c.format, 2.4e6, 98e6});
        EXPECT_EQ(source->frames(), 2u);
        EXPECT_EQ(source->centerFrequency(), 98e6);
        const auto samples = readAll(*source);
        ASSERT_EQ(samples.size(), 2u);
        EXPECT_NEAR(samples[0].real(), 0.5f, c.tolerance);
        EXPECT_NEAR(samples[0].imag(), -0.25f, c.tolerance);
        EXPECT_NEAR(samples[1].real(), -1.0f, c.tolerance);
        EXPECT_NEAR(samples[1].imag(), 0.0f, c.tolerance);
        EXPECT_NE(source->truncation().find("ends in the middle of a sample"), std::string::npos);
    }
}

TEST_F(IqSourceTest, SigmfRecordingsByEitherNameWithOverrides)
{
    const std::string meta = R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 2400000,
        "core:version": "1.0.0"}, "captures": [{"core:sample_start": 0, "core:frequency": 98000000}],
        "annotations": [{"core:sample_start": 1, "core:sample_count": 1}]})";
    write("cap.sigmf-meta", meta);
    write("cap.sigmf-data", std::string("\x00\x40\x00\xE0\x00\x80\x00\x00", 8));
    for (const char* name : {"cap.sigmf-meta", "cap.sigmf-data", "cap.sigmf"}) {
        const auto source = IqSource::open(path(name), {});
        EXPECT_EQ(source->sampleRate(), 2.4e6) << name;
        EXPECT_EQ(source->centerFrequency(), 98e6) << name;
        EXPECT_EQ(readAll(*source).size(), 2u) << name;
        EXPECT_EQ(source->truncation(), "") << name;
    }
    const auto overridden = IqSource::open(path("cap.sigmf-data"), {std::nullopt, 2.048e6, 99e6});
    EXPECT_EQ(overridden->sampleRate(), 2.048e6);
    EXPECT_EQ(overridden->centerFrequency(), 99e6);

    // An annotation past the end of the data: decoded as far as it goes, said.
    write("short.sigmf-meta", R"({"global": {"core:datatype": "cu8", "core:sample_rate": 1e6},
        "annotations": [{"core:sample_start": 0, "core:sample_count": 10}]})");
    write("short.sigmf-data", "\x80\x80\x80\x80");
    const auto shortSource = IqSource::open(path("short.sigmf-meta"), {});
    EXPECT_EQ(readAll(*shortSource).size(), 2u);
    EXPECT_NE(shortSource->truncation().find("metadata names sample 10, the data holds 2"), std::string::npos)
        << shortSource->truncation();
}

TEST_F(IqSourceTest, UnusableInputsSayWhatIsWrong)
{
    write("raw.cu8", "\x80\x80");
    write("nodata.sigmf-meta", R"({"global": {"core:datatype": "cu8", "core:sample_rate": 1e6}})");
    const auto meta = [&](const std::string& name, const std::string& global) {
        write(name + ".sigmf-data", "\x80\x80");
        return write(name + ".sigmf-meta", R"({"global": {)" + global + "}}");
    };
    const struct {
        std::string file;
        IqSettings settings;
        std::string error;
    } cases[] = {
        {path("raw.cu8"), {IqFormat::Cu8, 0.0, {}}, "the sample rate 0 Hz is out of range"},
        {path("raw.cu8"), {IqFormat::Cu8, 1e12, {}}, "the sample rate 1000000000000 Hz is out of range"},
        {path("raw.cu8"), {IqFormat::Cu8, std::nullopt, {}}, "raw IQ samples need their rate (--rate)"},
        {"-", {}, "standard input: give the raw samples' format with --iq"},
        {path("missing.cu8"), {IqFormat::Cu8, 2.4e6, {}}, "cannot open " + path("missing.cu8")},
        {write("empty.cu8", ""), {IqFormat::Cu8, 2.4e6, {}}, "holds no samples"},
        {dir_.string(), {IqFormat::Cu8, 2.4e6, {}}, "is a directory"},
        {path("nodata.sigmf-meta"), {}, "its samples " + path("nodata.sigmf-data") + " are missing"},
        {meta("real", R"("core:datatype": "ri16_le", "core:sample_rate": 1e6)"), {}, "is not complex (IQ) samples"},
        {meta("cs32", R"("core:datatype": "ci32_le", "core:sample_rate": 1e6)"), {}, "'ci32_le' is not supported"},
        {meta("norate", R"("core:datatype": "cu8")"), {}, "no core:sample_rate"},
        {meta("stereo", R"("core:datatype": "cu8", "core:sample_rate": 1e6, "core:num_channels": 2)"),
         {},
         "only one channel is supported"},
        {write("junk.sigmf-meta", "{not json"), {}, "not JSON"},
        {write("text.wav", "hello"), {}, "not an IQ recording"},
    };
    for (const auto& c : cases) {
        const std::string error = openError(c.file, c.settings);
        EXPECT_NE(error.find(c.error), std::string::npos) << c.file << ": " << error;
    }
}

TEST_F(IqSourceTest, TwoChannelAudioIsIandQ)
{
    const auto wav = [&](const std::string& name, int channels) {
        SF_INFO info{};
        info.samplerate = 250000;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
        const float frames[] = {0.5f, -0.25f, -1.0f, 0.0f};
        sf_writef_float(f, frames, 4 / channels);
        sf_close(f);
        return path(name);
    };
    const auto source = IqSource::open(wav("SDRSharp_20240101_120000Z_98500000Hz_IQ.wav", 2), {});
    EXPECT_EQ(source->sampleRate(), 250000);
    EXPECT_EQ(source->centerFrequency(), 98.5e6);
    const auto samples = readAll(*source);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0], std::complex<float>(0.5f, -0.25f));
    EXPECT_EQ(samples[1], std::complex<float>(-1.0f, 0.0f));
    EXPECT_NE(openError(wav("mono.wav", 1), {}).find("has 1 channel; an IQ recording has two"), std::string::npos);
}

// No SDR is attached here: what a user without a matching device is told.
TEST(SdrSource, NoMatchingDeviceIsOneClearLine)
{
    try {
        (void)SdrSource::open({"driver=varnak_test_none", 2.4e6, 98e6, std::nullopt, 0});
        FAIL() << "opened a device that does not exist";
    } catch (const SampleSourceError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("no SDR device matches 'driver=varnak_test_none'", 0), 0u) << e.what();
        EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
}

}  // namespace
