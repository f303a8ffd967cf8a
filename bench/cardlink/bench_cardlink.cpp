// Figures of the card client:
//  - BM_ExtractFrames: frames taken per second over loopback TCP with the
//    indicator flash set to 0 (the frame layer's own cost);
//  - BM_ExtractWithFlash: the same with the standard 40 ms flash; one
//    extractor step takes every frame already buffered, so a batch of small
//    frames costs one flash, not one each;
//  - BM_SearchBehindKeepAlives: CardSearch with the standard timing against
//    a server that sends 1000 keep-alive frames before its card list;
//    counters: result (0 expected) and seconds;
//  - BM_TextMessage: one message of the given size whose text element is
//    filled with hostile content (kind 0: "~#x" without ';', 1: valid
//    numeric escapes, 2: "~cr;", 3: plain text, 4: empty elements, 5: entity
//    and character references, 6: attributes of one element), from the
//    first byte sent to the event raised (or to the load error of a reply
//    with more markup than any server reply has, counter refused=1): grows
//    linearly with the size;
//  - BM_Flood: a peer floods the standard-timed control with the given
//    number of MiB (kind 0: bytes without any frame marker, 1: one frame
//    announcing the whole flood as its payload, 2: fragments of one endless
//    message, 3: keep-alive frames); the counter peak_rss_growth_MiB samples
//    the resident memory during the flood and stays below twice the 16 MiB
//    message bound whatever the size;
//  - BM_BuildSetMode: building the longest request text.
//
// Run one flood at a time (--benchmark_filter=BM_Flood/0/200) for a clean
// peak: freed memory is not always handed back to the system.
#include "test_server.h"

#include "quesmer/requests.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace quesmer;
using namespace quesmer::test;

namespace {

// Resident memory now, in KiB.
long residentKiB()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// Samples the resident memory every few milliseconds, also while the control
// runs its own nested event loops.
class PeakSampler {
public:
    PeakSampler() : base_(residentKiB())
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { peak_ = std::max(peak_, residentKiB()); });
        timer_.start(5);
    }
    double growthMiB() const { return double(std::max(peak_, residentKiB()) - base_) / 1024.0; }

private:
    QTimer timer_;
    long base_;
    long peak_ = 0;
};

// Sends `payload` as one message: fragments of FRAGMENT_SIZE with flag 0,
// then the rest with flag 1.
void sendMessage(TestServer& server, int32_t seq, const QByteArray& payload)
{
    qsizetype pos = 0;
    for (; payload.size() - pos >= FRAGMENT_SIZE; pos += FRAGMENT_SIZE)
        server.sendFrame(seq, payload.mid(pos, FRAGMENT_SIZE), 0);
    server.sendFrame(seq, payload.mid(pos), 1);
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
    int32_t seq = 1;  // the batch frames carry 1, the last one of each round a higher number
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
BENCHMARK(BM_ExtractWithFlash)
    ->Args({10, 200})
    ->Args({1000, 200})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_SearchBehindKeepAlives(benchmark::State& state)
{
    TestServer server;
    server.onConnect = [&] {
        server.sendFrame(1, codePayload(MSG_HELLO));
        server.sendFrame(2, serverInfoPayload());
        server.send(encodeControlFrame(SEQ_KEEPALIVE).repeated(int(state.range(0))));
        server.sendXml(3, "<Cards><Card number=\"1\" status=\"ready\"/></Cards>");
    };
    CardLink link;  // the standard timing: 40 ms flash, 1 s ticks
    Integer result = 0;
    QElapsedTimer clock;
    for (auto _ : state) {
        clock.start();
        result = link.CardSearch(QString("127.0.0.1"), Long(server.port()));
    }
    state.counters["result"] = result;
    state.counters["seconds"] = double(clock.elapsed()) / 1000.0;
}
BENCHMARK(BM_SearchBehindKeepAlives)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

QByteArray textMessage(int kind, qsizetype bytes)
{
    static const char* const fill[] = {"~#x", "~#x41;", "~cr;", "plain text ", "<x/>", "&amp;&#65;"};
    if (kind == 6) {  // one element with a great many attributes
        QByteArray attributes;
        for (int i = 0; attributes.size() < bytes; ++i) attributes += " a" + QByteArray::number(i) + "=\"v\"";
        return "<Data><X" + attributes + "/><Text><Translated>t</Translated></Text></Data>";
    }
    const QByteArray piece(fill[kind]);
    const QByteArray body = piece.repeated(bytes / piece.size());
    if (kind == 4) return "<Data>" + body + "<Text><Translated>t</Translated></Text></Data>";
    return "<Data><Text><Translated>" + body + "</Translated></Text></Data>";
}

void BM_TextMessage(benchmark::State& state)
{
    TestServer server;
    CardLink link;
    link.setTiming(fastTiming());
    // A reply beyond the parser's bounds is refused with a load error: handled too.
    int handled = 0, refused = 0;
    link.setErrorNotifier([&](const QString&) { ++handled, ++refused; });
    QObject::connect(&link, &CardLink::OnCardDataText,
                     [&](const QString&, Boolean, const QString&, const QString&, const QString&) { ++handled; });
    if (CardLinkTestAccess::open(link, "127.0.0.1", server.port()) != 0) {
        state.SkipWithError("cannot open the loopback connection");
        return;
    }
    waitUntil([&] { return server.clientConnected(); });
    const QByteArray payload = xmlPayload(textMessage(int(state.range(0)), state.range(1) << 10));
    int32_t seq = 0;
    for (auto _ : state) {
        const int expected = handled + 1;
        sendMessage(server, ++seq, payload);
        if (!waitUntil([&] { return handled == expected; }, 600000)) state.SkipWithError("the message was not handled");
    }
    state.counters["refused"] = refused;
    state.counters["MiB_per_s"] = benchmark::Counter(double(payload.size()) * double(state.iterations()) / 1048576.0,
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TextMessage)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {900, 16 * 1024 - 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A server in a thread of its own that writes a flood as fast as the
// client's socket takes it, as a server process on the network would.
class FloodServer {
public:
    explicit FloodServer(const std::function<void(int fd)>& writer)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot bind a loopback socket");
        ::listen(listener_, 1);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, writer] {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            writer(fd);
            done_ = true;
            while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(fd);
        });
    }
    ~FloodServer()
    {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    quint16 port() const { return port_; }
    bool done() const { return done_; }

    static bool writeAll(int fd, const QByteArray& bytes)
    {
        for (qsizetype pos = 0; pos < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + pos, size_t(bytes.size() - pos), MSG_NOSIGNAL);
            if (n <= 0) return false;
            pos += n;
        }
        return true;
    }

private:
    int listener_ = -1;
    quint16 port_ = 0;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<bool> stop_{false};
};

void BM_Flood(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const qsizetype size = qsizetype(state.range(1)) << 20;
    QByteArray piece;
    if (kind == 0 || kind == 1) {  // garbage, or the payload of one announced frame
        piece = QByteArray(1 << 20, 'x');
    } else if (kind == 2) {
        piece = encodeFrame(5, QByteArray(FRAGMENT_SIZE, 'f'), 0).repeated(32);
    } else {
        piece = encodeControlFrame(SEQ_KEEPALIVE).repeated((1 << 20) / FRAME_HEADER_SIZE);
    }
    QByteArray end;
    appendU32(end, 0x00100002);
    const QByteArray tail = encodeFrame(6, end) + encodeFrame(7, end);

    for (auto _ : state) {
        PeakSampler sampler;
        FloodServer server([&](int fd) {
            if (kind == 1) {  // one frame announcing the whole flood as its payload
                QByteArray header;
                appendU32(header, FRAME_MARKER);
                appendU32(header, 5);
                appendU32(header, uint32_t(size));
                appendU32(header, 0);
                FloodServer::writeAll(fd, header);
            }
            for (qsizetype sent = 0; sent < size; sent += piece.size())
                if (!FloodServer::writeAll(fd, piece)) return;
            // Ends the flood's message, if any (dropped or reported), then an
            // unknown message, reported.
            FloodServer::writeAll(fd, tail);
        });
        CardLink link;  // the standard timing: 40 ms flash
        link.setErrorNotifier([](const QString&) {});
        int errors = 0;
        QObject::connect(&link, &CardLink::OnCardError,
                         [&](ErrTyp, const QString& desc) { errors += desc == QLatin1String("Unknown message"); });
        if (CardLinkTestAccess::open(link, "127.0.0.1", server.port()) != 0) {
            state.SkipWithError("cannot open the loopback connection");
            return;
        }
        if (!waitUntil([&] { return server.done() && errors >= 1 && CardLinkTestAccess::bufferedBytes(link) == 0; },
                       600000))
            state.SkipWithError("the control did not recover after the flood");
        state.counters["peak_rss_growth_MiB"] = sampler.growthMiB();
        state.counters["still_connected"] = link.connected();
    }
    state.counters["flood_MiB"] = double(size >> 20);
}
BENCHMARK(BM_Flood)->ArgsProduct({{0, 1, 2, 3}, {200}})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

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
