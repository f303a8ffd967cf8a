// Figures of the card client:
//  - BM_ExtractFrames: frames taken per second over loopback TCP with the
//    indicator flash set to 0 (the frame layer's own cost);
//  - BM_ExtractWithFlash: the same with the standard 40 ms flash, which caps
//    the rate at about 25 frames per second by design;
//  - BM_OversizedMessage: a peer streams a 64 or 256 MiB payload that exceeds
//    the 16 MiB bound; the counter peak_rss_growth_MiB stays the same for
//    both sizes: the control keeps nothing of it;
//  - BM_BuildSetMode: building the longest request text.
#include "test_server.h"

#include "quesmer/requests.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace quesmer;
using namespace quesmer::test;

namespace {

long peakRssKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Sends `frames` ignored-code frames of `payloadBytes` and waits until the
// client has taken them all.
void runFrames(benchmark::State& state, int flashMs)
{
    TestServer server;
    CardLink link;
    Timing t = fastTiming();
    t.flashMs = flashMs;
    link.setTiming(t);
    if (CardLinkTestAccess::open(link, "127.0.0.1", server.port()) != 0) {
        state.SkipWithError("cannot open the loopback connection");
        return;
    }
    waitUntil([&] { return server.clientConnected(); });
    const int frames = int(state.range(0));
    QByteArray payload;
    appendU32(payload, MSG_SERVER_INFO_ACK);
    payload.append(QByteArray(int(state.range(1)) - 4, 'p'));
    const QByteArray batch = encodeFrame(1, payload).repeated(frames);
    int32_t seq = 1;   // the batch frames carry 1, the last one of each round a higher number
    for (auto _ : state) {
        ++seq;
        QByteArray last = encodeFrame(seq, payload);
        server.send(batch.left(batch.size() - last.size()) + last);
        waitUntil([&] { return link.lastSequence() == seq && CardLinkTestAccess::bufferedBytes(link) == 0; }, 60000);
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(double(frames) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ExtractFrames(benchmark::State& state) { runFrames(state, 0); }
BENCHMARK(BM_ExtractFrames)->Args({1000, 200})->Args({200, 32767})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExtractWithFlash(benchmark::State& state) { runFrames(state, 40); }
BENCHMARK(BM_ExtractWithFlash)->Args({10, 200})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OversizedMessage(benchmark::State& state)
{
    TestServer server;
    CardLink link;
    link.setTiming(fastTiming());
    int errors = 0;
    QObject::connect(&link, &CardLink::OnCardError, [&](ErrTyp, const QString&) { ++errors; });
    if (CardLinkTestAccess::open(link, "127.0.0.1", server.port()) != 0) {
        state.SkipWithError("cannot open the loopback connection");
        return;
    }
    waitUntil([&] { return server.clientConnected(); });
    const qsizetype size = qsizetype(state.range(0)) << 20;
    const QByteArray chunk(1 << 20, 'x');
    const long before = peakRssKiB();
    for (auto _ : state) {
        const int expected = errors + 2;   // "Message too long", then "Unknown message"
        QByteArray header;
        appendU32(header, FRAME_MARKER);
        appendU32(header, 5);
        appendU32(header, uint32_t(size));
        appendU32(header, 0);
        server.send(header);
        for (qsizetype sent = 0; sent < size; sent += chunk.size()) {
            server.send(chunk);
            waitUntil([&] { return server.client()->bytesToWrite() == 0; }, 60000);
        }
        QByteArray end;
        appendU32(end, 0x00100002);
        server.sendFrame(6, end);   // the message's end piece, dropped
        server.sendFrame(7, end);   // an unknown message, reported
        if (!waitUntil([&] { return errors == expected; }, 60000))
            state.SkipWithError("the control did not recover after the oversized message");
    }
    state.counters["peak_rss_growth_MiB"] = double(peakRssKiB() - before) / 1024.0;
    state.counters["stream_MiB"] = double(size >> 20);
}
BENCHMARK(BM_OversizedMessage)->Arg(64)->Arg(256)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BuildSetMode(benchmark::State& state)
{
    for (auto _ : state) {
        QString m = "DBPSK", c = "HF-Analysis-Bit-Stream", a = "Latin-1";
        double shift = 2400;
        benchmark::DoNotOptimize(requests::setMode(m, c, 1187.5, shift, 0, a, TRUE_B));
    }
}
BENCHMARK(BM_BuildSetMode);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
