// Throughput of the RDS demodulator in multiples of real time: a stereo
// multiplex with RDS at 10 dB CNR (and at -4 dB, where the block decoder
// works hardest), pushed in blocks of 4096 samples. The counter
// "x_realtime" is seconds of signal demodulated per second.
#include "mpx_modulator.h"
#include "rds_demodulator.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<float> Multiplex(double rate, double cnr, double seconds)
{
    varnak::radio::MpxConfig config;
    config.sampleRate = rate;
    config.cnrDb = cnr;
    config.stereo = true;
    std::mt19937 random(7);
    std::string bits;
    for (auto n = long(seconds * 1187.5); n > 0; --n) bits.push_back(random() & 1 ? '1' : '0');
    varnak::radio::MpxModulator modulator(config);
    std::vector<float> samples;
    modulator.modulate(bits, samples);
    return samples;
}

void BM_Demodulate(benchmark::State& state)
{
    const double rate = double(state.range(0));
    static thread_local std::vector<float> samples;
    samples = Multiplex(rate, double(state.range(1)), 4);
    varnak::radio::RdsDemodulator demodulator(rate);
    std::string bits;
    constexpr std::size_t kChunk = 4096;
    std::size_t at = 0;
    for (auto _ : state) {
        const std::size_t take = std::min(kChunk, samples.size() - at);
        demodulator.push(samples.data() + at, take, bits);
        at = (at + take) % samples.size();
        if (bits.size() > 100000) bits.clear();
        benchmark::DoNotOptimize(bits.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kChunk));
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * double(kChunk) / rate, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Demodulate)
    ->ArgNames({"rate", "cnr"})
    ->Args({171000, 10})
    ->Args({228000, 10})
    ->Args({171000, -4})
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0);

BENCHMARK_MAIN();
