// Throughput of the RDS demodulator in multiples of real time: a stereo
// multiplex with RDS at 10 dB CNR (and at -4 dB, where the block decoder
// works hardest), pushed in blocks of 4096 samples. The counter
// "x_realtime" is seconds of signal demodulated per second. BM_Rds2 is the
// cost of RDS2's three extra streams (66.5, 71.25 and 76 kHz) on top of
// stream 0: their demodulators and group framing, on a multiplex that
// carries all four.
#include "mpx_modulator.h"
#include "rds2_receiver.h"
#include "rds_demodulator.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<float> Multiplex(double rate, double cnr, double seconds, int rds2Streams = 0)
{
    varnak::radio::MpxConfig config;
    config.sampleRate = rate;
    config.cnrDb = cnr;
    config.stereo = true;
    config.rds2Streams = rds2Streams;
    std::mt19937 random(7);
    std::vector<std::string> bits(std::size_t(1 + rds2Streams));
    for (auto& stream : bits)
        for (auto n = long(seconds * 1187.5); n > 0; --n) stream.push_back(random() & 1 ? '1' : '0');
    varnak::radio::MpxModulator modulator(config);
    std::vector<float> samples;
    modulator.modulate(bits[0], std::vector<std::string_view>(bits.begin() + 1, bits.end()), samples);
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

void BM_Rds2(benchmark::State& state)
{
    const double rate = double(state.range(0));
    static thread_local std::vector<float> samples;
    samples = Multiplex(rate, 10, 4, 3);
    varnak::radio::Rds2Receiver receiver(rate);
    uint64_t groups = 0;
    receiver.setHandler([&groups](int, const varnak::radio::Rds2Receiver::Group&) { ++groups; });
    constexpr std::size_t kChunk = 4096;
    std::size_t at = 0;
    for (auto _ : state) {
        const std::size_t take = std::min(kChunk, samples.size() - at);
        receiver.push(samples.data() + at, take);
        at = (at + take) % samples.size();
        benchmark::DoNotOptimize(groups);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kChunk));
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * double(kChunk) / rate, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Rds2)->ArgNames({"rate"})->Arg(171000)->Arg(228000)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

BENCHMARK(BM_Demodulate)
    ->ArgNames({"rate", "cnr"})
    ->Args({171000, 10})
    ->Args({228000, 10})
    ->Args({171000, -4})
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0);

BENCHMARK_MAIN();
