// Live decoding in the main window (offscreen, real widgets): the Card
// command against the card server simulator run as a real process on
// 127.0.0.1, the data handler, the "F" label and Stop. Every test runs in
// a temporary current directory, where the live decode log Card.out goes.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "capturing_notifier.h"
#include "cardsim_process.h"
#include "config_dialog.h"
#include "live_feed.h"
#include "main_window.h"
#include "quesmer/daskel.h"
#include "run_wait.h"
#include "settings_store.h"
#include "widgets.h"

namespace varnak {
namespace {

using test::CapturingNotifier;

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class LiveWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        previousDir_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        store_ = std::make_unique<SettingsStore>(dir_.filePath(QStringLiteral("settings.reg")));
        w_ = std::make_unique<MainWindow>(*store_, notifier_);
        w_->setStartPause([this](int ms) { pausedMs_ += ms; });
        w_->show();
    }
    void TearDown() override
    {
        w_.reset();
        QDir::setCurrent(previousDir_);
    }

    QPushButton* button(const char* name) const { return w_->findChild<QPushButton*>(QLatin1String(name)); }
    QString cardOut() const { return dir_.filePath(QStringLiteral("Card.out")); }
    QString buttons() const
    {
        return QStringLiteral("File=%1 Card=%2 Stopit=%3")
            .arg(button("File")->isEnabled())
            .arg(button("Card")->isEnabled())
            .arg(button("Stopit")->isEnabled());
    }

    // Starts the simulator with the cards 1 (ready), 2 (busy) and 3 (ready).
    void startSim(QStringList extra = {})
    {
        simLog_ = dir_.filePath(QStringLiteral("sim.jsonl"));
        extra << QStringLiteral("--log") << simLog_ << QStringLiteral("--cards")
              << test::WriteCardFile(dir_.path(), {QStringLiteral("1;DC1;dc1-0;00000001;yes;ready"),
                                                   QStringLiteral("2;DC1;dc1-1;00000002;yes;busy"),
                                                   QStringLiteral("3;DC1;dc1-2;00000003;yes;ready")});
        ASSERT_TRUE(sim_.start(extra)) << qPrintable(sim_.error());
    }
    // What the simulator received, with the JSON quoting undone.
    QString simReceived() const
    {
        return QString::fromUtf8(ReadAll(simLog_)).replace(QStringLiteral("\\\""), QStringLiteral("\""));
    }

    // Runs `answer` on the configuration dialog as soon as it is shown.
    void whenDialogShows(const std::function<void(ConfigDialog&)>& answer)
    {
        auto* timer = new QTimer(w_.get());
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, answer] {
            ConfigDialog* d = w_->configDialog();
            if (!d || !d->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            answer(*d);
        });
        timer->start();
    }
    static QPushButton* dialogButton(ConfigDialog& d, const char* name)
    {
        return d.findChild<QPushButton*>(QLatin1String(name));
    }
    // The Card command with the dialog answered: port typed, a search, OK.
    void startLive(quint16 port)
    {
        whenDialogShows([port](ConfigDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("vHostSvc"))->setText(QString::number(port));
            QTest::mouseClick(dialogButton(d, "Search"), Qt::LeftButton);
            QTest::mouseClick(dialogButton(d, "OK"), Qt::LeftButton);
        });
        QTest::mouseClick(button("Card"), Qt::LeftButton);
    }
    // Lets the event loop run until `done` holds or `ms` have passed.
    static bool waitFor(const std::function<bool()>& done, int ms)
    {
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
    std::unique_ptr<SettingsStore> store_;
    CapturingNotifier notifier_;
    std::unique_ptr<MainWindow> w_;
    test::CardSimProcess sim_;
    QString simLog_;
    int pausedMs_ = 0;
};

TEST_F(LiveWindowTest, CancelConnectsNothing)
{
    startSim();
    const QString before = buttons();
    whenDialogShows([](ConfigDialog& d) {
        EXPECT_EQ(d.findChild<QLineEdit*>(QStringLiteral("vHostSvc"))->text(), "33234") << "the default port";
        QTest::mouseClick(dialogButton(d, "Cancel"), Qt::LeftButton);
    });
    QTest::mouseClick(button("Card"), Qt::LeftButton);
    EXPECT_EQ(w_->configDialog()->CardNum(), -1);
    EXPECT_TRUE(notifier_.messages.isEmpty());
    EXPECT_EQ(buttons(), before);
    EXPECT_FALSE(w_->CardActive());
    EXPECT_FALSE(QFile::exists(cardOut()));
    QTest::qWait(100);
    EXPECT_FALSE(simReceived().contains(QStringLiteral("\"connected\""))) << "nobody should have connected";
}

TEST_F(LiveWindowTest, AFailedConnectionShowsTheCodeWithItsReasonAndChangesNothing)
{
    startSim();
    // Port, the card chosen (as if a search had offered it), and the text
    // after "Err:N - ": the control's text, with the reason for -1.
    struct Case {
        quint16 port;
        int card;
        QString text;
    };
    quesmer::Integer refused = 10061;
    const std::vector<Case> cases = {
        {test::ClosedPort(), 2, QString()},
        {static_cast<quint16>(sim_.port()), 8, QStringLiteral("Connect Error: card number 8 is beyond 7")},
    };
    const QString before = buttons();
    for (const Case& c : cases) {
        notifier_.messages.clear();
        notifier_.titles.clear();
        whenDialogShows([&c](ConfigDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("vHostSvc"))->setText(QString::number(c.port));
            auto* card = d.findChild<QRadioButton*>(QStringLiteral("vCardNum_%1").arg(c.card - 1));
            card->setEnabled(true);
            QTest::mouseClick(card, Qt::LeftButton);
            QTest::mouseClick(dialogButton(d, "OK"), Qt::LeftButton);
        });
        QTest::mouseClick(button("Card"), Qt::LeftButton);
        EXPECT_EQ(w_->configDialog()->CardNum(), c.card);

        ASSERT_EQ(notifier_.messages.size(), 1);
        EXPECT_EQ(notifier_.titles.front(), "Varnak");
        const auto m = QRegularExpression(QStringLiteral("^Err:(-?\\d+) - (.+)$")).match(notifier_.messages.front());
        ASSERT_TRUE(m.hasMatch()) << qPrintable(notifier_.messages.front());
        if (c.text.isEmpty()) {
            EXPECT_EQ(m.captured(1).toInt(), refused);
            EXPECT_EQ(m.captured(2), w_->daskel().CardConnectError(refused));
        } else {
            EXPECT_EQ(m.captured(1), "-1");
            EXPECT_EQ(m.captured(2), c.text);
        }
        EXPECT_EQ(buttons(), before);
        EXPECT_FALSE(w_->CardActive());
        EXPECT_EQ(store_->ReadSetting(MainWindow::AppName, QString(), QStringLiteral("HostPort"), -7).toInt(), -7)
            << "a failed connection stores nothing";
    }
}

TEST_F(LiveWindowTest, ALiveRunWritesTheGroupsOfTheFileAnalysis)
{
    const QString sample = QStringLiteral(VARNAK_SAMPLE_RECORDING);
    const QString recording = dir_.filePath(QStringLiteral("station.txt"));
    ASSERT_TRUE(QFile::copy(sample, recording)) << qPrintable(sample);
    // The decoder keeps some fields across RDSInit: both runs start after a
    // complete run of the same recording.
    ASSERT_TRUE(test::Analyse(*w_, recording));
    ASSERT_TRUE(test::Analyse(*w_, recording));
    const QByteArray reference = ReadAll(dir_.filePath(QStringLiteral("station.out")));
    ASSERT_GT(reference.size(), 100000);

    // 15 times the bit rate: about 450 characters every 100 ms, so that even
    // a simulator slowed down by a loaded machine stays below the 2600
    // characters at which text would be dropped.
    startSim({QStringLiteral("--bits"), recording, QStringLiteral("--speed"), QStringLiteral("15")});
    int dataEvents = 0;
    QElapsedTimer sinceData;
    sinceData.start();
    QObject::connect(&w_->daskel(), &quesmer::Daskel::OnCardDataBinary, w_.get(), [&] {
        ++dataEvents;
        sinceData.start();
    });
    startLive(sim_.port());

    ASSERT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));
    EXPECT_TRUE(w_->CardActive());
    EXPECT_EQ(buttons(), "File=0 Card=0 Stopit=1");
    EXPECT_EQ(pausedMs_, 5 * 40 + 101 * 50) << "the pauses of the card set-up";
    EXPECT_EQ(w_->CurrentPath(), QDir(QDir::currentPath()).filePath(QStringLiteral("Card.out")));
    // The status bar tells where the live decode log goes.
    EXPECT_EQ(w_->findChild<PanelStatusBar*>(QStringLiteral("Status"))->currentMessage(),
              QStringLiteral("Decode log: ") + w_->CurrentPath());
    EXPECT_EQ(w_->configDialog()->CardNum(), 3) << "the last ready card found is chosen";
    EXPECT_EQ(store_->ReadSetting(MainWindow::AppName, QString(), QStringLiteral("HostPort"), 0).toInt(), sim_.port());
    EXPECT_EQ(store_->ReadSetting(MainWindow::AppName, QString(), QStringLiteral("HostName"), QString()).toString(),
              "127.0.0.1");

    // The recording lasts 214050 bits: about 12 s at 15 times the bit rate.
    ASSERT_TRUE(waitFor([&] { return dataEvents > 0 && sinceData.elapsed() > 1500; }, 60000))
        << dataEvents << " data events";
    EXPECT_FALSE(w_->findChild<QLabel*>(QStringLiteral("lFULL"))->isVisible()) << "nothing may be dropped";
    QTest::mouseClick(button("Stopit"), Qt::LeftButton);
    EXPECT_EQ(buttons(), "File=1 Card=1 Stopit=0");
    EXPECT_FALSE(w_->CardActive());

    const QString received = simReceived();
    EXPECT_TRUE(received.contains(QStringLiteral("<Card number=\"3\"/>"))) << "card 3 connected";
    EXPECT_TRUE(received.contains(QStringLiteral("inp3"))) << "IF input 3";
    const QByteArray live = ReadAll(cardOut());
    EXPECT_EQ(live.size(), reference.size());
    EXPECT_TRUE(live == reference) << "Card.out differs from the file analysis";
}

TEST_F(LiveWindowTest, StopDuringALiveRunEndsItAndClosesTheLog)
{
    startSim({QStringLiteral("--bits"), QStringLiteral(VARNAK_SAMPLE_RECORDING), QStringLiteral("--speed"),
              QStringLiteral("25"), QStringLiteral("--loop")});
    auto* bar = w_->findChild<PanelStatusBar*>(QStringLiteral("Status"));
    bar->setMessageHold(0);
    startLive(sim_.port());
    ASSERT_TRUE(w_->CardActive()) << qPrintable(notifier_.messages.join('\n'));
    // The card's own signal level, as it sends it, stands in the status bar.
    const ElidedLabel* signal = bar->signalField();
    EXPECT_TRUE(waitFor([&] { return signal->text().contains(QStringLiteral("(locked)")); }, 10000))
        << qPrintable(signal->text());
    EXPECT_TRUE(signal->isVisible());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^card level 6\\d \\(locked\\)")).match(signal->text()).hasMatch())
        << qPrintable(signal->text());

    // Stop is pressed between two batches, once the card's data decodes.
    const MurlinApi* api = murlin();
    ASSERT_NE(api, nullptr);
    const int32_t blocksAtStart = api->RDSStat(0);
    bool pressed = false;
    int blocksAtStop = -1;
    QTimer presser;
    test::WhenReady(
        presser, [&] { return api->RDSStat(0) > blocksAtStart; },
        [&] {
            pressed = true;
            QTest::mouseClick(button("Stopit"), Qt::LeftButton);
            blocksAtStop = api->RDSStat(0);
            EXPECT_FALSE(w_->isLogOpen()) << "Stop closes the log at once";
        });
    ASSERT_TRUE(waitFor([&] { return pressed; }, 20000));
    EXPECT_EQ(api->RDSStat(0), blocksAtStop) << "bits were decoded after Stop";
    EXPECT_EQ(buttons(), "File=1 Card=1 Stopit=0");
    EXPECT_FALSE(w_->CardActive());
    EXPECT_TRUE(signal->isHidden()) << "the card's level goes with the card";

    // Data arriving later changes nothing.
    const QByteArray log = ReadAll(cardOut());
    emit w_->daskel().OnCardDataBinary(quesmer::ENC_HEX, 8, QStringLiteral("00"));
    QTest::qWait(300);
    EXPECT_EQ(ReadAll(cardOut()), log);
    EXPECT_EQ(api->RDSStat(0), blocksAtStop);
}

TEST_F(LiveWindowTest, EveryStartRecreatesCardOutEmpty)
{
    startSim({QStringLiteral("--bits"), QStringLiteral(VARNAK_SAMPLE_RECORDING), QStringLiteral("--speed"),
              QStringLiteral("25"), QStringLiteral("--loop")});
    const MurlinApi* api = murlin();
    ASSERT_NE(api, nullptr);
    for (int run = 0; run < 2; ++run) {
        startLive(sim_.port());
        ASSERT_TRUE(w_->CardActive()) << qPrintable(notifier_.messages.join('\n'));
        EXPECT_TRUE(QFile::exists(cardOut()));
        EXPECT_EQ(QFileInfo(cardOut()).size(), 0) << "run " << run;
        const int32_t blocks = api->RDSStat(0);
        ASSERT_TRUE(waitFor([&] { return api->RDSStat(0) > blocks + 200; }, 20000));
        QTest::mouseClick(button("Stopit"), Qt::LeftButton);
        EXPECT_GT(QFileInfo(cardOut()).size(), 0);
    }
}

TEST_F(LiveWindowTest, ACardOutThatCannotBeCreatedReleasesTheCard)
{
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("Card.out")));
    startSim();
    startLive(sim_.port());
    ASSERT_EQ(notifier_.messages.size(), 1);
    EXPECT_TRUE(notifier_.messages.front().contains(QStringLiteral("Card.out")))
        << qPrintable(notifier_.messages.front());
    EXPECT_FALSE(w_->CardActive());
    EXPECT_FALSE(w_->isLogOpen());
    EXPECT_EQ(buttons(), "File=1 Card=1 Stopit=0");
    EXPECT_EQ(w_->daskel().link().selectedCard(), -1) << "the card was not released";
    EXPECT_FALSE(w_->daskel().link().connected());
}

TEST_F(LiveWindowTest, ClosingTheWindowDuringTheCardSetUpStaysIdle)
{
    startSim();
    w_->setStartPause([this](int) {
        if (w_->isVisible()) w_->close();
    });
    startLive(sim_.port());
    EXPECT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));
    EXPECT_FALSE(w_->CardActive());
    EXPECT_FALSE(QFile::exists(cardOut()));
    EXPECT_FALSE(w_->daskel().link().connected());
}

// The card set-up takes seconds: the status bar shows each of its steps
// while Stop is on, and Stop at any step ends the set-up there, sends
// nothing more to the card and leaves the window idle.
TEST_F(LiveWindowTest, CardSetUpShowsItsStepsAndStopEndsIt)
{
    // The search of startLive() selects card 3.
    const QString stepText = QStringLiteral("Setting up card N°3: step %1 of 7");
    // At the bit rate: 64 KiB of records would take about a minute of data.
    startSim({QStringLiteral("--bits"), QStringLiteral(VARNAK_SAMPLE_RECORDING)});
    for (const int stopAt : {0, 3, 6}) {  // 0: never
        SCOPED_TRACE(stopAt);
        const qsizetype receivedBefore = simReceived().size();
        QStringList shown;
        auto* bar = w_->findChild<QStatusBar*>();
        ASSERT_NE(bar, nullptr);
        const QMetaObject::Connection watch =
            QObject::connect(bar, &QStatusBar::messageChanged, [&](const QString& text) { shown << text; });
        bool stopWasOn = true;
        w_->setStartPause([&](int) {
            stopWasOn = stopWasOn && button("Stopit")->isEnabled() && !button("File")->isEnabled();
            QCoreApplication::processEvents();  // the requests reach the card
            if (stopAt > 0 && bar->currentMessage() == stepText.arg(stopAt)) button("Stopit")->click();
        });
        startLive(sim_.port());
        QObject::disconnect(watch);
        EXPECT_TRUE(stopWasOn) << "Stop is on during the set-up";
        EXPECT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));
        QStringList steps;
        for (int n = 1; n <= (stopAt > 0 ? stopAt : 7); ++n) steps << stepText.arg(n);
        shown.removeDuplicates();
        shown.removeAll(QString());
        if (stopAt == 0) {
            // The decode log's message follows the steps.
            ASSERT_EQ(shown.size(), 8) << qPrintable(shown.join('\n'));
            shown.removeLast();
            EXPECT_TRUE(w_->CardActive());
            EXPECT_TRUE(
                waitFor([&] { return simReceived().mid(receivedBefore).contains(QStringLiteral("passband")); }, 2000));
            // Card.out is written group by group: it can be followed live.
            EXPECT_TRUE(waitFor(
                [&] { return ReadAll(cardOut()).count("------------------------------------\r\n") >= 2; }, 5000))
                << "Card.out is empty while the card sends";
            EXPECT_TRUE(w_->CardActive());
            w_->StopCommand();
        } else {
            EXPECT_FALSE(w_->CardActive());
            EXPECT_EQ(buttons(), "File=1 Card=1 Stopit=0");
            EXPECT_FALSE(QFile::exists(cardOut()));
            EXPECT_FALSE(w_->daskel().link().connected());
            QTest::qWait(100);
            // Stopped during the input's pauses (step 3): no filter was set.
            if (stopAt == 3) {
                EXPECT_FALSE(simReceived().mid(receivedBefore).contains(QStringLiteral("passband")))
                    << "sent after Stop";
            }
        }
        EXPECT_EQ(shown, steps);
        QFile::remove(cardOut());
    }
}

TEST_F(LiveWindowTest, OtherEncodingsAndTheOverflowMark)
{
    startSim();
    startLive(sim_.port());
    ASSERT_TRUE(w_->CardActive()) << qPrintable(notifier_.messages.join('\n'));
    auto* full = w_->findChild<QLabel*>(QStringLiteral("lFULL"));
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(full->isVisible());

    emit w_->daskel().OnCardDataBinary(quesmer::ENC_HEX, 12000, QString(3000, QLatin1Char('0')));
    EXPECT_TRUE(full->isVisible()) << "3000 characters overflow";
    EXPECT_EQ(full->text(), "F");
    for (auto enc : {quesmer::ENC_BIN, quesmer::ENC_B64, quesmer::ENC_B64MIME}) {
        emit w_->daskel().OnCardDataBinary(enc, 8, QStringLiteral("AAAA"));
        EXPECT_TRUE(full->isVisible()) << "encoding " << enc;
    }
    emit w_->daskel().OnCardDataBinary(quesmer::ENC_HEX, 8, QStringLiteral("00"));
    EXPECT_FALSE(full->isVisible()) << "the next data event hides the mark";
    QTest::mouseClick(button("Stopit"), Qt::LeftButton);
}

}  // namespace
}  // namespace varnak

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
