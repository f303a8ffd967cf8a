// The Daskel widget over a real loopback connection: its painted face follows
// the connection state with the exact colours, and it re-emits the engine's
// events.
#include "quesmer/daskel.h"
#include "test_server.h"

#include <gtest/gtest.h>
#include <QImage>

using namespace quesmer;
using namespace quesmer::test;

namespace {

QColor centrePixel(Daskel& d)
{
    const QImage image = d.grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

}  // namespace

TEST(DaskelIndicator, ColoursFollowTheConnection)
{
    EXPECT_EQ(lightColour(LinkLight::Closed), QColor(255, 0, 0));
    EXPECT_EQ(lightColour(LinkLight::Open), QColor(255, 192, 128));
    EXPECT_EQ(lightColour(LinkLight::InSession), QColor(0, 255, 0));
    EXPECT_EQ(lightColour(LinkLight::ServerQuit), QColor(128, 128, 255));

    TestServer server;
    Daskel daskel;
    daskel.resize(daskel.sizeHint());
    daskel.show();
    daskel.link().setTiming(fastTiming());
    EXPECT_EQ(centrePixel(daskel), QColor(255, 0, 0));

    // Record the colour actually painted at every change.
    std::vector<QColor> painted;
    QObject::connect(&daskel.link(), &CardLink::lightChanged, [&] { painted.push_back(centrePixel(daskel)); });

    ASSERT_EQ(CardLinkTestAccess::open(daskel.link(), "127.0.0.1", server.port()), 0);
    EXPECT_EQ(daskel.indicatorColour(), QColor(255, 192, 128));
    EXPECT_EQ(centrePixel(daskel), QColor(255, 192, 128));

    ASSERT_TRUE(server.handshake(daskel.link()));
    EXPECT_EQ(centrePixel(daskel), QColor(0, 255, 0));

    painted.clear();
    server.send(encodeControlFrame(SEQ_NOP));  // looking at data flashes orange, then back to green
    ASSERT_TRUE(waitUntil([&] { return painted.size() >= 2; }));
    EXPECT_EQ(painted[0], QColor(255, 192, 128));
    EXPECT_EQ(painted[1], QColor(0, 255, 0));

    painted.clear();
    std::vector<QString> causes;
    QObject::connect(&daskel, &Daskel::OnCardDisconnected, [&](Boolean remote, const QString& cause) {
        EXPECT_EQ(remote, TRUE_B);
        causes.push_back(cause);
    });
    server.send(encodeControlFrame(SEQ_QUIT));
    ASSERT_TRUE(waitUntil([&] { return !causes.empty(); }));
    EXPECT_EQ(causes[0], "Server quit");
    ASSERT_GE(painted.size(), 2u);
    EXPECT_EQ(painted[painted.size() - 2], QColor(128, 128, 255));
    EXPECT_EQ(painted.back(), QColor(255, 0, 0));
    EXPECT_EQ(centrePixel(daskel), QColor(255, 0, 0));
}

TEST(DaskelEvents, AreReEmittedWithTheirArguments)
{
    TestServer server;
    Daskel daskel;
    daskel.link().setTiming(fastTiming());
    std::vector<ServerInformation> infos;
    std::vector<std::pair<ErrTyp, QString>> errors;
    QObject::connect(&daskel, &Daskel::OnServerInformation, [&](const ServerInformation& i) { infos.push_back(i); });
    QObject::connect(&daskel, &Daskel::OnCardError, [&](ErrTyp e, const QString& d) { errors.push_back({e, d}); });
    ASSERT_EQ(CardLinkTestAccess::open(daskel.link(), "127.0.0.1", server.port()), 0);
    ASSERT_TRUE(server.handshake(daskel.link()));
    server.sendFrame(3, codePayload(0x00100002));
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].CardType, "DC1");
    EXPECT_EQ(errors[0], std::make_pair(ERR_MSG, QString("Unknown message")));
}

TEST(DaskelSize, IsSixteenPixelsSquareAtNinetySixDpi)
{
    Daskel daskel;
    const QSize s = daskel.sizeHint();
    EXPECT_EQ(s.width(), s.height());
    EXPECT_EQ(s.width(), qRound(16 * daskel.logicalDpiX() / 96.0));
}
