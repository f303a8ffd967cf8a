// Bits per second through RDSBitFrame (clean stream, pure noise) and through
// RDSBytFrame (clean stream), reported as the "bits" rate counter.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "murlin.h"
#include "rds_encoder.h"

namespace {

// A clean stream of many groups of all types, as '0'/'1' characters.
const std::string& CleanStream()
{
    static const std::string bits = [] {
        std::mt19937 rng(12);
        std::string s;
        for (int g = 0; g < 20000; ++g)
            rdsenc::AppendGroup(s, 0xD3A2, uint16_t(((g % 32) << 11) | (rng() & 0x07FF)), uint16_t(rng()),
                                uint16_t(rng()));
        return s;
    }();
    return bits;
}

std::vector<uint8_t> ToBits(const std::string& chars)
{
    std::vector<uint8_t> bits(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i) bits[i] = chars[i] == '1';
    return bits;
}

void RunBits(benchmark::State& state, const std::vector<uint8_t>& bits)
{
    RDSInit();
    int64_t fed = 0;
    for (auto _ : state) {
        int32_t sum = 0;
        for (uint8_t b : bits) sum += RDSBitFrame(b, 0);
        benchmark::DoNotOptimize(sum);
        fed += int64_t(bits.size());
    }
    state.counters["bits"] = benchmark::Counter(double(fed), benchmark::Counter::kIsRate);
}

void BM_BitFrameClean(benchmark::State& state)
{
    static const std::vector<uint8_t> bits = ToBits(CleanStream());
    RunBits(state, bits);
}

void BM_BitFrameNoise(benchmark::State& state)
{
    static const std::vector<uint8_t> bits = [] {
        std::mt19937 rng(99);
        std::vector<uint8_t> v(2'000'000);
        for (auto& b : v) b = rng() & 1;
        return v;
    }();
    RunBits(state, bits);
}

void BM_BytFrameClean(benchmark::State& state)
{
    static const std::string bytes = rdsenc::PackBits(CleanStream());
    RDSInit();
    int64_t fed = 0;
    for (auto _ : state) {
        int32_t sum = 0;
        for (unsigned char b : bytes) sum += RDSBytFrame(b, 0);
        benchmark::DoNotOptimize(sum);
        fed += int64_t(bytes.size()) * 8;
    }
    state.counters["bits"] = benchmark::Counter(double(fed), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_BitFrameClean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitFrameNoise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BytFrameClean)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
