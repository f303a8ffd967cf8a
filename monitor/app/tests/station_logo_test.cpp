// The monitor shows the station logo that RDS2's file transfer brings in a
// multiplex, and only a logo whose CRC checks. Part of monitor_window_test
// (its main sets up the application).
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "capturing_notifier.h"
#include "main_window.h"
#include "mpx_modulator.h"
#include "rft.h"
#include "run_wait.h"
#include "settings_store.h"
#include "test_streams.h"

namespace varnak {
namespace {

constexpr int kRate = 171000;

QByteArray LogoPng()
{
    QImage image(20, 12, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 12, y * 20, (x + y) % 2 ? 255 : 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The segment address of an RFT data group.
uint32_t Segment(const rdsformats::TypeCGroup& g) { return uint32_t(g.words[0] & 0x7F) << 8 | g.words[1] >> 8; }

// Stream 0 a station's groups, streams 1 to 3 the logo's RFT groups, with
// `spoil` applied to the logo's groups first.
void WriteMultiplex(const QString& path, const QByteArray& png,
                    const std::function<void(std::vector<std::vector<rdsformats::TypeCGroup>>&)>& spoil)
{
    rdsformats::RftSendFile file;
    file.bytes.assign(png.begin(), png.end());
    auto cycle = rdsformats::RftGroupCycle(file, 3);
    spoil(cycle);
    const std::string bits = test::StationBits(5);
    std::vector<std::string> extra;
    extra.reserve(cycle.size());
    for (const auto& groups : cycle) extra.push_back(rdsformats::TypeCGroupBits(groups, bits.size()));
    radio::MpxConfig config;
    config.sampleRate = kRate;
    config.rds2Streams = 3;
    radio::MpxModulator modulator(config);
    std::vector<float> samples;
    modulator.modulate(bits, {extra[0], extra[1], extra[2]}, samples);
    modulator.finish(samples);
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

TEST(StationLogoTest, ShownOnlyWhenItsCrcChecks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_NE(murlin(), nullptr) << "libmurlin.so must stand beside the test";
    SettingsStore store(dir.filePath(QStringLiteral("settings.reg")));
    test::CapturingNotifier notifier;
    MainWindow window(store, notifier);
    window.show();
    auto* logo = window.findChild<QLabel*>(QStringLiteral("stationLogo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_TRUE(logo->isHidden());  // before any logo

    const QByteArray png = LogoPng();
    const struct {
        const char* name;
        std::function<void(std::vector<std::vector<rdsformats::TypeCGroup>>&)> spoil;
        bool shown;
    } cases[] = {
        {"whole", [](auto&) {}, true},
        // Every announcement of the file's CRC says another CRC.
        {"bad CRC",
         [](auto& cycle) {
             for (auto& groups : cycle)
                 for (auto& g : groups)
                     if ((g.words[0] >> 14) == 2 && (g.words[2] >> 12) == 1) g.words[3] ^= 0x0101;
         },
         false},
        // The last segment never comes.
        {"truncated",
         [](auto& cycle) {
             uint32_t last = 0;
             for (const auto& groups : cycle)
                 for (const auto& g : groups)
                     if ((g.words[0] >> 14) == 0) last = std::max(last, Segment(g));
             for (auto& groups : cycle)
                 for (auto& g : groups)
                     if ((g.words[0] >> 14) == 0 && Segment(g) == last) g = groups.front();
         },
         false},
    };
    for (const auto& c : cases) {
        const QString wav = dir.filePath(QStringLiteral("%1.wav").arg(QString::fromLatin1(c.name).replace(' ', '_')));
        WriteMultiplex(wav, png, c.spoil);
        ASSERT_TRUE(test::Analyse(window, wav)) << c.name;
        EXPECT_EQ(logo->isVisible(), c.shown) << c.name;
        if (!c.shown) continue;
        ASSERT_FALSE(logo->pixmap().isNull());
        EXPECT_EQ(logo->pixmap().size(), QSize(20, 12));
        EXPECT_TRUE(logo->toolTip().contains(QStringLiteral("PNG"))) << qPrintable(logo->toolTip());
        EXPECT_EQ(logo->pixmap().toImage().convertToFormat(QImage::Format_RGB32).pixel(19, 11), qRgb(228, 220, 0));
    }
}

}  // namespace
}  // namespace varnak
