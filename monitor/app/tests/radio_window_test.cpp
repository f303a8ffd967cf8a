// The window with every kind of recording and with a live radio (offscreen,
// real widgets): audio and hexadecimal recordings through File, raw
// multiplex on standard input, recordings that cannot be used, and
// real-time playback.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capturing_notifier.h"
#include "main_window.h"
#include "mpx_modulator.h"
#include "rds_demodulator.h"
#include "settings_store.h"
#include "test_streams.h"
#include "widgets.h"

namespace varnak {
namespace {

using test::CapturingNotifier;
constexpr double kRate = 171000;
const QByteArray kSeparator = "------------------------------------\r\n";

std::vector<float> Multiplex(const std::string& bits, double rate = kRate) {
    radio::MpxConfig config;
    config.sampleRate = rate;
    radio::MpxModulator modulator(config);
    std::vector<float> out;
    modulator.modulate(bits, out);
    modulator.finish(out);
    return out;
}

std::string S16le(const std::vector<float>& samples) {
    std::string bytes(samples.size() * 2, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::lround(samples[i] * 32767.0f)));
        bytes[2 * i] = static_cast<char>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(v >> 8);
    }
    return bytes;
}

void WriteWav(const QString& path, const std::vector<float>& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_write_float(f, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

// The bits the demodulator makes of raw samples, as the window's worker reads them.
std::string Demodulated(const std::string& s16le, double rate = kRate) {
    std::vector<float> samples(s16le.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(
                         static_cast<unsigned char>(s16le[2 * i]) | static_cast<unsigned char>(s16le[2 * i + 1]) << 8))) /
                     32768.0f;
    radio::RdsDemodulator d(rate);
    std::string bits;
    d.push(samples.data(), samples.size(), bits);
    d.finish(bits);
    return bits;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class RadioWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        previousDir_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        api_ = murlin();
        ASSERT_NE(api_, nullptr);
        w_ = std::make_unique<MainWindow>(store_, notifier_);
        w_->show();
    }
    void TearDown() override {
        w_.reset();
        QDir::setCurrent(previousDir_);
    }

    QString writeFile(const QString& name, const std::string& content) const {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.data(), static_cast<qint64>(content.size()));
        return path;
    }
    // The decode log the shared frame processor writes for `text`.
    QByteArray referenceLog(const std::string& text, bool bits = true) const {
        api_->RDSInit();
        const QString path = dir_.filePath(QStringLiteral("reference.log"));
        DecodeLog log;
        EXPECT_TRUE(log.open(QFile::encodeName(path).toStdString()));
        FrameProcessor p(*api_);
        p.setLog(&log);
        p.process(text, bits);
        EXPECT_TRUE(log.close());
        return ReadAll(path);
    }
    QPushButton* button(const char* name) const { return w_->findChild<QPushButton*>(QLatin1String(name)); }
    QString text(const char* name) const { return w_->findChild<ColourLabel*>(QLatin1String(name))->text(); }
    void expectIdle(const char* what) const {
        EXPECT_TRUE(button("File")->isEnabled()) << what;
        EXPECT_TRUE(button("Card")->isEnabled()) << what;
        EXPECT_FALSE(button("Stopit")->isEnabled()) << what;
        EXPECT_FALSE(w_->isLogOpen()) << what;
    }
    static bool waitFor(const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms) return false;
            QTest::qWait(20);
        }
        return true;
    }

    QTemporaryDir dir_;
    QString previousDir_;
    SettingsStore store_{dir_.filePath(QStringLiteral("settings.reg"))};
    CapturingNotifier notifier_;
    const MurlinApi* api_ = nullptr;
    std::unique_ptr<MainWindow> w_;
};

// An audio recording and a hexadecimal one, opened with File, give the same
// decode log as their bits through the shared frame processor (for the hex
// recording: as murlin-decode --hex, started as a user would).
TEST_F(RadioWindowTest, FileRecognisesAudioAndHexRecordings) {
    const std::string bits = test::StationBits(4, 100);
    const std::vector<float> samples = Multiplex(bits);
    const QString wav = dir_.filePath(QStringLiteral("station.wav"));
    WriteWav(wav, samples, static_cast<int>(kRate));
    const std::string demodulated = Demodulated(S16le(samples));
    referenceLog(demodulated);  // the same decoder state before both runs
    notifier_.nextFile = wav;
    button("File")->click();
    EXPECT_EQ(notifier_.dialogFilter, QStringLiteral("Recordings (*.txt *.bit *.hex *.wav *.flac);;All files (*)"));
    EXPECT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));
    const QByteArray log = ReadAll(dir_.filePath(QStringLiteral("station.out")));
    EXPECT_GE(log.count(kSeparator), 3 * test::kGroupsPerCycle);
    EXPECT_EQ(log, referenceLog(demodulated));
    EXPECT_EQ(text("vPS"), QStringLiteral("VARNAK  "));
    EXPECT_EQ(text("vPI"), QStringLiteral("C2A1"));
    EXPECT_TRUE(w_->windowTitle().contains(QStringLiteral("pilot 9.0 %"))) << qPrintable(w_->windowTitle());

    // Hexadecimal text in lines, as cardctl records the card's batches.
    std::string hex;
    for (std::size_t at = 0; at + 8 <= bits.size(); at += 8) {
        int byte = 0;
        for (int k = 0; k < 8; ++k) byte = byte * 2 + (bits[at + k] == '1');
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
        if ((at / 8) % 32 == 31) hex += "\r\n";
    }
    const QString hexPath = writeFile(QStringLiteral("card.hex"), hex);
    const QString bin = QCoreApplication::applicationDirPath();
    if (!QFile::exists(bin + QStringLiteral("/murlin-decode")) || !QFile::exists(bin + QStringLiteral("/varnak")))
        GTEST_SKIP() << "murlin-decode or varnak not built";
    // Both programs started fresh, as a user would.
    QProcess varnak;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    varnak.setProcessEnvironment(env);
    varnak.start(bin + QStringLiteral("/varnak"),
                 {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--exit-when-done"), hexPath});
    ASSERT_TRUE(varnak.waitForFinished(60000));
    EXPECT_EQ(varnak.exitCode(), 0) << varnak.readAllStandardError().toStdString();
    const QString headless = dir_.filePath(QStringLiteral("headless.out"));
    EXPECT_EQ(QProcess::execute(bin + QStringLiteral("/murlin-decode"),
                                {QStringLiteral("-q"), QStringLiteral("--hex"), QStringLiteral("-o"), headless, hexPath}),
              0);
    const QByteArray hexLog = ReadAll(dir_.filePath(QStringLiteral("card.out")));
    EXPECT_GE(hexLog.count(kSeparator), 3 * test::kGroupsPerCycle);
    EXPECT_EQ(hexLog, ReadAll(headless));
}

// Recordings that cannot be used are named in a message box with the
// reason; the window stays idle and no decode log claims success.
TEST_F(RadioWindowTest, BadRecordingsAreNamedWithTheReason) {
    const std::vector<float> samples = Multiplex(test::StationBits(1));
    const QString slow = dir_.filePath(QStringLiteral("slow.wav"));
    WriteWav(slow, std::vector<float>(4410), 44100);
    const QString truncated = dir_.filePath(QStringLiteral("cut.wav"));
    WriteWav(truncated, samples, static_cast<int>(kRate));
    ASSERT_TRUE(QFile::resize(truncated, QFileInfo(truncated).size() / 2 + 1));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("folder.wav")));
    const struct {
        QString path;
        QString reason;  // part of the message
        bool logLeft;    // a log of what could be decoded, said to be partial
    } cases[] = {
        {writeFile(QStringLiteral("empty.txt"), ""), QStringLiteral("it is empty"), false},
        {dir_.filePath(QStringLiteral("folder.wav")), QStringLiteral("Is a directory"), false},
        {truncated, QStringLiteral("truncated"), true},
        {slow, QStringLiteral("44100 Hz"), false},
        {writeFile(QStringLiteral("program.bin"), std::string("\x7F" "ELF\2\1\1\0\0\0\0\0", 12) + std::string(5000, '\0')),
         QStringLiteral("no recording of a kind Varnak reads"), false},
        {writeFile(QStringLiteral("silence.txt"), std::string(5000, '0')), QStringLiteral("No RDS group found in silence.txt"),
         true},
    };
    for (const auto& c : cases) {
        notifier_.messages.clear();
        const QString log = c.path.left(c.path.size() - 4) + QStringLiteral(".out");
        w_->AnalyseFile(c.path);
        ASSERT_EQ(notifier_.messages.size(), 1) << qPrintable(c.path);
        EXPECT_TRUE(notifier_.messages[0].contains(QFileInfo(c.path).fileName())) << qPrintable(notifier_.messages[0]);
        EXPECT_TRUE(notifier_.messages[0].contains(c.reason)) << qPrintable(notifier_.messages[0]);
        EXPECT_EQ(QFileInfo(log).isFile(), c.logLeft) << qPrintable(c.path);
        expectIdle(qPrintable(c.path));
    }
}

// Raw multiplex on standard input: a live run into Radio.out, the signal
// and the input's state in the title, Stop, a writer that pauses or ends,
// and one faster than real time.
TEST_F(RadioWindowTest, LiveRadioFromStandardInput) {
    const std::string bits = test::StationBits(3, 50);
    const std::string raw = S16le(Multiplex(bits));
    const std::string demodulated = Demodulated(raw);
    const int savedStdin = ::dup(STDIN_FILENO);
    w_->setMpxRate(kRate);
    enum class Writer { RealTimeThenStop, PausesThenStop, FloodsAndEnds };
    for (Writer mode : {Writer::RealTimeThenStop, Writer::PausesThenStop, Writer::FloodsAndEnds}) {
        SCOPED_TRACE(static_cast<int>(mode));
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::dup2(fds[0], STDIN_FILENO), STDIN_FILENO);
        ::close(fds[0]);
        std::atomic<bool> quit{false};
        std::thread writer([&, fd = fds[1]] {
            const std::size_t piece = static_cast<std::size_t>(kRate / 20) * 2;  // 50 ms
            const auto start = std::chrono::steady_clock::now();
            for (std::size_t at = 0; at < raw.size() && !quit; at += piece) {
                if (mode == Writer::PausesThenStop && at >= raw.size() / 3) {
                    while (!quit) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    break;
                }
                const std::size_t n = std::min(piece, raw.size() - at);
                if (::write(fd, raw.data() + at, n) != static_cast<ssize_t>(n)) break;
                if (mode != Writer::FloodsAndEnds)
                    std::this_thread::sleep_until(start + std::chrono::milliseconds(50 * (at / piece + 1)));
            }
            ::close(fd);
        });
        if (mode == Writer::FloodsAndEnds) referenceLog(demodulated);
        QString titleSeen;
        QTimer probe;
        probe.setInterval(50);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!w_->isRadioRunning()) return;
            const QString title = w_->windowTitle();
            if (title.contains(QStringLiteral("no samples for 2 s"))) titleSeen = title;
            const bool stationShown = text("vPS") == QStringLiteral("VARNAK  ") && text("vPI") == QStringLiteral("C2A1");
            if ((mode == Writer::RealTimeThenStop && stationShown) || (mode == Writer::PausesThenStop && !titleSeen.isEmpty())) {
                EXPECT_TRUE(button("Stopit")->isEnabled());
                EXPECT_FALSE(button("File")->isEnabled());
                QElapsedTimer stopping;
                stopping.start();
                button("Stopit")->click();
                EXPECT_LT(stopping.elapsed(), 100);
            }
        });
        probe.start();
        const bool ok = w_->RunRadio(QStringLiteral("-"));
        probe.stop();
        quit = true;
        writer.join();
        EXPECT_TRUE(ok);
        expectIdle("after the run");
        const QByteArray log = ReadAll(dir_.filePath(QStringLiteral("Radio.out")));
        EXPECT_GT(log.count(kSeparator), 0);
        EXPECT_EQ(log.count("\r\n"), 5 * log.count(kSeparator));  // whole records only
        if (mode == Writer::PausesThenStop) EXPECT_FALSE(titleSeen.isEmpty()) << "the silence is shown";
        if (mode == Writer::FloodsAndEnds) {
            EXPECT_TRUE(w_->windowTitle().endsWith(QStringLiteral("input ended"))) << qPrintable(w_->windowTitle());
            EXPECT_EQ(log, referenceLog(demodulated)) << "no group lost";
        }
    }
    ::dup2(savedStdin, STDIN_FILENO);
    ::close(savedStdin);
}

// The program as scripts use it: raw multiplex on standard input, the
// window closing after the input has ended and the last group is logged.
TEST_F(RadioWindowTest, ProgramEndsWithItsRadioInput) {
    const QString bin = QCoreApplication::applicationDirPath();
    if (!QFile::exists(bin + QStringLiteral("/varnak"))) GTEST_SKIP() << "varnak not built";
    const std::string bits = test::StationBits(3, 50);
    const std::string raw = S16le(Multiplex(bits));
    QProcess varnak;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    varnak.setProcessEnvironment(env);
    varnak.setWorkingDirectory(dir_.filePath(QStringLiteral("run")));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("run")));
    varnak.start(bin + QStringLiteral("/varnak"), {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                                   QStringLiteral("--exit-when-done"), QStringLiteral("--mpx-rate"),
                                                   QStringLiteral("171k"), QStringLiteral("-")});
    ASSERT_TRUE(varnak.waitForStarted());
    varnak.write(raw.data(), static_cast<qint64>(raw.size()));
    varnak.closeWriteChannel();
    ASSERT_TRUE(varnak.waitForFinished(60000));
    EXPECT_EQ(varnak.exitCode(), 0) << varnak.readAllStandardError().toStdString();
    const QByteArray log = ReadAll(dir_.filePath(QStringLiteral("run/Radio.out")));
    EXPECT_GE(log.count(kSeparator), 2 * test::kGroupsPerCycle);
    EXPECT_EQ(log.count(kSeparator), referenceLog(Demodulated(raw)).count(kSeparator));
}

// At broadcast speed a bit recording takes as long as it took on air.
TEST_F(RadioWindowTest, RealtimePlaybackKeepsTheBroadcastPace) {
    const std::string bits = test::StationBits(1);
    const QString path = writeFile(QStringLiteral("short.txt"), bits);
    w_->setRealtime(true);
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(w_->AnalyseFile(path));
    EXPECT_GE(t.elapsed(), static_cast<qint64>(bits.size() * 1000 / 1187.5) - 100);
    EXPECT_EQ(ReadAll(dir_.filePath(QStringLiteral("short.out"))).count(kSeparator), test::kGroupsPerCycle);
}

}  // namespace
}  // namespace varnak

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
