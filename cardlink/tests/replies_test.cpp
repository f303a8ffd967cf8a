// XML replies arriving at CardLink over a loopback connection: card lists,
// indicators, parameter lists, metadata, text and binary data, error
// elements, and hostile text (malformed, huge, deeply nested, entities).
#include "test_server.h"

#include <gtest/gtest.h>
#include <QSignalSpy>

using namespace quesmer;
using namespace quesmer::test;
using Access = CardLinkTestAccess;

namespace {

struct TextEvent {
    QString channel;
    Boolean error;
    QString raw, code, text;
};

class Replies : public ::testing::Test {
protected:
    void SetUp() override
    {
        link.setTiming(fastTiming());
        link.setErrorNotifier([this](const QString& text) { loadErrors.push_back(text); });
        QObject::connect(&link, &CardLink::OnCardError, [this](ErrTyp e, const QString& d) {
            if (d.startsWith("sync "))
                synced = d;
            else
                errors.push_back({e, d});
        });
        QObject::connect(&link, &CardLink::OnCardStatus, [this](Integer n, const CardStatus& s) {
            statuses.push_back({n, s});
        });
        QObject::connect(&link, &CardLink::OnCardIndicator,
                         [this](const IndicatorInfo& i) { indicators.push_back(i); });
        QObject::connect(&link, &CardLink::OnCardGetMode,
                         [this](const QString& m, const QString& c, double sp, double sh, Boolean p, const QString& a) {
                             order.push_back("mode");
                             mode = {m, c, QString::number(sp), QString::number(sh), QString::number(p), a};
                         });
        QObject::connect(&link, &CardLink::OnCardGetFrequency, [this](Integer c, AFCTyp a) {
            order.push_back("frequency");
            frequency = {c, a};
        });
        QObject::connect(&link, &CardLink::OnCardGetInput,
                         [this](Integer s, Integer g, Long t, AGCTyp agc, ALSTyp als) {
                             order.push_back("input");
                             input = {s, g, t, agc, als};
                         });
        QObject::connect(&link, &CardLink::OnCardGetFilter, [this](Integer c, Integer b) {
            order.push_back("filter");
            filter = {c, b};
        });
        QObject::connect(&link, &CardLink::OnCardDataText,
                         [this](const QString& ch, Boolean e, const QString& r, const QString& c, const QString& t) {
                             texts.push_back({ch, e, r, c, t});
                         });
        QObject::connect(&link, &CardLink::OnCardDataBinary, [this](EncTyp e, Integer n, const QString& b) {
            binaries.push_back({e, n, b});
        });
        QObject::connect(&link, &CardLink::OnCardCodeList, [this](const QString& x) { codeLists.push_back(x); });
        QObject::connect(&link, &CardLink::OnCardCodeInfo, [this](const QString& x) { codeInfos.push_back(x); });

        ASSERT_EQ(Access::open(link, "127.0.0.1", server.port()), 0);
        ASSERT_TRUE(waitUntil([&] { return server.clientConnected(); }));
        ASSERT_TRUE(server.handshake(link));
    }

    // Sends one XML message, then a marker error element, and waits until
    // the marker has been handled: everything the message raised is then in.
    void deliver(const QByteArray& xml)
    {
        // Large messages travel in fragments of FRAGMENT_SIZE bytes with flag 0.
        const QByteArray payload = xmlPayload(xml);
        ++seq;
        qsizetype pos = 0;
        for (; payload.size() - pos >= FRAGMENT_SIZE; pos += FRAGMENT_SIZE)
            server.sendFrame(seq, payload.mid(pos, FRAGMENT_SIZE), 0);
        server.sendFrame(seq, payload.mid(pos), 1);
        const QString marker = QString("sync %1").arg(seq);
        server.sendXml(++seq, "<Error>" + marker.toLatin1() + "</Error>");
        ASSERT_TRUE(waitUntil([&] { return synced == marker; })) << "no reply to " << xml.left(200).data();
    }

    TestServer server;
    CardLink link;
    int32_t seq = 10;
    QString synced;
    std::vector<QString> loadErrors;
    std::vector<std::pair<ErrTyp, QString>> errors;
    std::vector<std::pair<Integer, CardStatus>> statuses;
    std::vector<IndicatorInfo> indicators;
    std::vector<std::string> order;
    std::vector<QString> mode;
    std::tuple<Integer, AFCTyp> frequency{};
    std::tuple<Integer, Integer, Long, AGCTyp, ALSTyp> input{};
    std::tuple<Integer, Integer> filter{};
    std::vector<TextEvent> texts;
    std::vector<std::tuple<EncTyp, Integer, QString>> binaries;
    std::vector<QString> codeLists, codeInfos;
};

}  // namespace

// ---- Card lists ----------------------------------------------------------

TEST_F(Replies, CardListSkipsEmptySlotsAndNumbersBeyondEightAndEndsTheWait)
{
    EXPECT_FALSE(link.enumerationDone());
    deliver(
        "<Cards>"
        "<Card number=\"1\" name=\"Roof\" device=\"dc1-0\" serial-nr=\"A1\" status=\"ready\""
        " remote-access=\"yes\" connections=\"2\"/>"
        "<Card number=\"2\" status=\"no-card\" serial-nr=\"B2\"/>"
        "<Card number=\"9\" name=\"Nine\" status=\"ready\"/>"
        "</Cards>");
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].first, 1);
    const CardStatus& s = statuses[0].second;
    EXPECT_EQ(s.IsOk, TRUE_B);
    EXPECT_EQ(s.Number, 1);
    EXPECT_EQ(s.Name, "Roof");
    EXPECT_EQ(s.Device, "dc1-0");
    EXPECT_EQ(s.Serial, "A1");
    EXPECT_EQ(s.Access, TRUE_B);
    EXPECT_EQ(s.Ready, TRUE_B);
    EXPECT_EQ(s.Status, "ready");
    EXPECT_EQ(s.Connections, 2);
    EXPECT_EQ(link.cardEntry(1).IsOk, FALSE_B);
    EXPECT_EQ(link.cardEntry(8).IsOk, FALSE_B);
    EXPECT_EQ(link.cardCount(), 1);
    EXPECT_TRUE(link.enumerationDone());
    EXPECT_TRUE(link.cardListReceived());
}

TEST_F(Replies, NewListClearsPresenceButKeepsTheFieldsOfVanishedCards)
{
    deliver(
        "<Cards><Card number=\"3\" name=\"Three\" serial-nr=\"S3\" status=\"busy\""
        " remote-access=\"no\"/></Cards>");
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].second.Ready, FALSE_B);
    EXPECT_EQ(statuses[0].second.Access, FALSE_B);
    deliver("<Cards/>");
    EXPECT_EQ(statuses.size(), 1u);
    EXPECT_EQ(link.cardEntry(2).IsOk, FALSE_B);
    EXPECT_EQ(link.cardEntry(2).Serial, "S3");
    EXPECT_EQ(link.cardCount(), 0);
    EXPECT_TRUE(link.cardListReceived());
}

// ---- Indicators ------------------------------------------------------------

TEST_F(Replies, IndicatorEventsOnlyOnChange)
{
    deliver("<Indicators status=\"\" level=\"0\" bargraph=\"\"/>");
    EXPECT_TRUE(indicators.empty());
    deliver("<Indicators status=\"locked\" level=\"57\" bargraph=\"|||\"/>");
    deliver("<Indicators status=\"locked\" level=\"57\" bargraph=\"|||\"/>");
    ASSERT_EQ(indicators.size(), 1u);
    EXPECT_EQ(indicators[0].Status, "locked");
    EXPECT_EQ(indicators[0].Level, 57);
    EXPECT_EQ(indicators[0].Bargraph, "|||");
    deliver("<Indicators status=\"locked\" level=\"58\" bargraph=\"|||\"/>");
    EXPECT_EQ(indicators.size(), 2u);
}

TEST_F(Replies, ReplyInsideMessageAndInformationIsFound)
{
    deliver(
        "<?xml version=\"1.0\"?>\r\n<Message version=\"1.0\"><Information>"
        "<Indicators status=\"ok\" level=\"5\" bargraph=\"#\"/></Information></Message>");
    ASSERT_EQ(indicators.size(), 1u);
    EXPECT_EQ(indicators[0].Level, 5);
    // Unknown wrappers are walked too, and names are compared in lower case,
    // without a namespace prefix.
    deliver("<WRAP><x:INDICATORS xmlns:x=\"urn:a\" status=\"ok\" level=\"6\"/></WRAP>");
    ASSERT_EQ(indicators.size(), 2u);
    EXPECT_EQ(indicators[1].Level, 6);
}

// ---- Parameter lists -------------------------------------------------------

TEST_F(Replies, ParameterGroupsAreRaisedInFixedOrderWithZeroDefaults)
{
    deliver(
        "<ParameterList><Parameter name=\"passband-bandwidth\" value=\"2400\"/>"
        "<Parameter name=\"center\" value=\"1200\"/></ParameterList>");
    EXPECT_EQ(order, (std::vector<std::string>{"frequency", "filter"}));
    EXPECT_EQ(frequency, std::make_tuple(Integer(1200), AFC_OFF));
    EXPECT_EQ(filter, std::make_tuple(Integer(0), Integer(2400)));

    order.clear();
    deliver("<ParameterList><Parameter name=\"bandwidth\" value=\"3000\"/></ParameterList>");
    EXPECT_EQ(order, (std::vector<std::string>{"frequency"}));
    EXPECT_EQ(frequency, std::make_tuple(Integer(0), AFC_OFF));
}

TEST_F(Replies, EveryParameterReachesItsEvent)
{
    deliver(
        "<ParameterList>"
        "<Parameter name=\"als\" value=\"start\"/>"
        "<Parameter name=\"passband-center\" value=\"1800\"/>"
        "<Parameter name=\"input\" value=\"inp3\"/>"
        "<Parameter name=\"inputgain\" value=\"40\"/>"
        "<Parameter name=\"translation\" value=\"57000\"/>"
        "<Parameter name=\"agc\" value=\"low-noise\"/>"
        "<Parameter name=\"agc\" value=\"sideways\"/>"
        "<Parameter name=\"modulation\" value=\"dbpsk\"/>"
        "<Parameter name=\"code\" value=\"hf-analysis-bit-stream\"/>"
        "<Parameter name=\"speed\" value=\"1187.5 Bd\"/>"
        "<Parameter name=\"shift\" value=\"x\"/>"
        "<Parameter name=\"polarity\" value=\"inverse\"/>"
        "<Parameter name=\"alphabet\" value=\"latin\"/>"
        "<Parameter name=\"afc\" value=\"on\"/>"
        "<Parameter name=\"center\" value=\"1500\"/>"
        "<Parameter name=\"no-such\" value=\"1\"/>"
        "</ParameterList>");
    EXPECT_EQ(order, (std::vector<std::string>{"mode", "frequency", "input", "filter"}));
    EXPECT_EQ(mode, (std::vector<QString>{"dbpsk", "hf-analysis-bit-stream", "1187.5", "0", "-1", "latin"}));
    EXPECT_EQ(frequency, std::make_tuple(Integer(1500), AFC_ON));
    // An unknown AGC word leaves the value that came before it.
    EXPECT_EQ(input, std::make_tuple(Integer(3), Integer(40), Long(57000), AGC_LOWNOISE, ALS_START));
    EXPECT_EQ(filter, std::make_tuple(Integer(1800), Integer(0)));
}

// ---- Metadata --------------------------------------------------------------

TEST_F(Replies, MetadataPassesTheWholeMessageText)
{
    const QByteArray xml =
        "<Message><Metadata><Codes info=\"code-list\"><Code name=\"a\"/></Codes>"
        "<Code info=\"code\" name=\"b\"/><Other info=\"x\"/></Metadata></Message>";
    deliver(xml);
    ASSERT_EQ(codeLists.size(), 1u);
    ASSERT_EQ(codeInfos.size(), 1u);
    EXPECT_EQ(codeLists[0], QString::fromLatin1(xml));
    EXPECT_EQ(codeInfos[0], QString::fromLatin1(xml));
}

// ---- Data ------------------------------------------------------------------

TEST_F(Replies, TextDataIsUnescapedOnlyInTheTranslatedText)
{
    deliver(
        "<Data><Text channel=\"B\" error-indication=\"no\">"
        "<Raw>~#x41;~cr;</Raw><Translated alphabet=\"ita2\">A~#x41;B~cr;</Translated></Text></Data>");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].channel, "B");
    EXPECT_EQ(texts[0].error, FALSE_B);
    EXPECT_EQ(texts[0].raw, "~#x41;\r");
    EXPECT_EQ(texts[0].code, "ita2");
    EXPECT_EQ(texts[0].text, "AAB\r");
}

TEST_F(Replies, TranslatedTextIsUnescapedInOnePass)
{
    const std::vector<std::pair<QByteArray, QString>> cases = {
        // Every valid escape is replaced, upper and lower case alike; the
        // malformed ones (no digit, three digits, no hexadecimal digit, a
        // sign, a blank among the digits, no ';') stay.
        {"~#x;~#x123;~#xZZ;~#x+1;x~#x7e;~#x7E;~lf;", "~#x;~#x123;~#xZZ;~#x+1;x~~\n"},
        {"~#x 1;~#x1 ;~#x A;B", "~#x 1;~#x1 ;~#x A;B"},
        {"~#x4", "~#x4"},
        {"~#x41", "~#x41"},
        {"~#x~#x41;~#x", "~#xA~#x"},
        {"~#x0;~#xff;", QString(QChar(0)) + QChar(0xff)},
        // What an escape produces is not read again as part of another one.
        {"~#x7E;#x41;", "~#x41;"},
        {"~#x7E;X~#x7E;#x41;~#x7E;cr;", "~X~#x41;~cr;"},
        {"~~cr;~lf~lf;;", "~\r~lf\n;"},
        {"~#x41;~#x41;" + QByteArray("~#x").repeated(20000) + "~#x42;", "AA" + QString("~#x").repeated(20000) + "B"},
    };
    for (const auto& [in, out] : cases) {
        texts.clear();
        deliver("<Data><Text><Translated>" + in + "</Translated><Raw>" + in + "</Raw></Text></Data>");
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].text, out) << in.left(80).data();
        QString raw = QString::fromLatin1(in);  // without numeric escapes: only ~cr; and ~lf;
        EXPECT_EQ(texts[0].raw, raw.replace("~cr;", "\r").replace("~lf;", "\n")) << in.left(80).data();
    }
    EXPECT_EQ(texts[0].channel, "A");
    EXPECT_EQ(texts[0].error, TRUE_B);
}

TEST_F(Replies, TextWithoutOrWithEmptyTranslation)
{
    deliver("<Data><Text/><Text><Translated alphabet=\"a\"/><Raw/></Text></Data>");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].code, "");
    EXPECT_EQ(texts[0].text, "");
    EXPECT_EQ(texts[0].raw, "");
    EXPECT_EQ(texts[1].code, "a");
    EXPECT_EQ(texts[1].text, " ");
    EXPECT_EQ(texts[1].raw, " ");
}

TEST_F(Replies, BinaryEncodingsAndBitCount)
{
    deliver(
        "<Data><Binary encoding=\"BASE64\" bit-count=\"16\">AAA=</Binary>"
        "<Binary encoding=\"base16\" bit-count=\"8\">A5</Binary>"
        "<Binary encoding=\"Base64-Mime\"/>"
        "<Binary encoding=\"base2\" bit-count=\"lots\">0101</Binary>"
        "<Binary encoding=\"base32\" bit-count=\"99999\">x</Binary>"
        "<Graphic/><Result/></Data>");
    ASSERT_EQ(binaries.size(), 5u);
    EXPECT_EQ(binaries[0], std::make_tuple(ENC_B64, Integer(16), QString("AAA=")));
    EXPECT_EQ(binaries[1], std::make_tuple(ENC_HEX, Integer(8), QString("A5")));
    EXPECT_EQ(binaries[2], std::make_tuple(ENC_B64MIME, Integer(0), QString()));
    EXPECT_EQ(binaries[3], std::make_tuple(ENC_BIN, Integer(0), QString("0101")));
    EXPECT_EQ(binaries[4], std::make_tuple(ENC_BIN, Integer(32767), QString("x")));
}

// ---- Errors ----------------------------------------------------------------

TEST_F(Replies, ErrorElementsLoseTheirLineFeedsAndWalkingGoesOn)
{
    deliver("<Message><Error>bad\n</Error><Error/><Indicators status=\"after\"/></Message>");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], std::make_pair(ERR_XML, QString("bad")));
    EXPECT_EQ(errors[1], std::make_pair(ERR_XML, QString()));
    ASSERT_EQ(indicators.size(), 1u);
    EXPECT_EQ(indicators[0].Status, "after");
}

// ---- Hostile text ------------------------------------------------------------

TEST_F(Replies, MalformedXmlIsReportedWithNumberReasonAndLineAndDropped)
{
    deliver("<Message>\n<Cards><Card number=\"1\" status=\"ready\"></Message>");
    ASSERT_EQ(loadErrors.size(), 1u);
    EXPECT_TRUE(loadErrors[0].startsWith("Error Loading: ")) << loadErrors[0].toStdString();
    EXPECT_TRUE(loadErrors[0].contains(" line 2")) << loadErrors[0].toStdString();
    EXPECT_TRUE(statuses.empty());
    EXPECT_FALSE(link.cardListReceived());

    deliver("");
    deliver(QByteArray("\0\xff\xfe<", 4));
    EXPECT_EQ(loadErrors.size(), 3u);
    EXPECT_TRUE(link.connected());
}

TEST_F(Replies, DeepNestingIsRefusedWithoutCrashing)
{
    const int depth = 100000;
    QByteArray xml;
    for (int i = 0; i < depth; ++i) xml += "<a>";
    xml += "<Indicators status=\"deep\"/>";
    for (int i = 0; i < depth; ++i) xml += "</a>";
    deliver(xml);
    ASSERT_EQ(loadErrors.size(), 1u);
    EXPECT_TRUE(indicators.empty());

    // Nesting of an ordinary depth still works.
    QByteArray fine;
    for (int i = 0; i < 50; ++i) fine += "<a>";
    fine += "<Indicators status=\"ok\"/>";
    for (int i = 0; i < 50; ++i) fine += "</a>";
    deliver(fine);
    EXPECT_EQ(indicators.size(), 1u);
}

TEST_F(Replies, MarkupBeyondAnyServerReplyIsRefused)
{
    // Each reply is refused with a load error before a parser builds anything
    // of it; the same reply within the bounds is read.
    const QByteArray card = "<Card number=\"1\" status=\"ready\"/>";
    QByteArray attributes;
    for (int i = 0; i < 33; ++i) attributes += " a" + QByteArray::number(i) + "='=>'";
    const std::vector<std::pair<QByteArray, bool>> cases = {
        {"<Cards><X" + attributes + "/>" + card + "</Cards>", false},
        {"<Cards><X" + attributes.mid(attributes.indexOf(" a1=")) + "/>" + card + "</Cards>", true},
        {"<Cards>" + QByteArray("<x/>").repeated(100000) + card + "</Cards>", false},
        {"<Cards>" + QByteArray("<x/>").repeated(1000) + card + "</Cards>", true},
        // Markup inside comments and character data does not nest.
        {"<Cards><!--" + QByteArray("<a>").repeated(200) + "--><![CDATA[" + QByteArray("<a b='>").repeated(200) +
             "]]>" + card + "</Cards>",
         true},
        {"<Cards>" + QByteArray("<a>").repeated(129) + QByteArray("</a>").repeated(129) + card + "</Cards>", false},
    };
    for (const auto& [xml, read] : cases) {
        loadErrors.clear();
        statuses.clear();
        deliver(xml);
        EXPECT_EQ(statuses.size(), read ? 1u : 0u) << xml.left(60).data();
        ASSERT_EQ(loadErrors.size(), read ? 0u : 1u) << xml.left(60).data();
        if (!read) {
            EXPECT_TRUE(loadErrors[0].startsWith("Error Loading: ")) << loadErrors[0].toStdString();
        }
    }
}

TEST_F(Replies, HugeAttributesAndBadNumbersAreHandled)
{
    const QByteArray big(2 * 1024 * 1024, 'x');
    deliver("<Cards><Card number=\"1\" name=\"" + big +
            "\" status=\"ready\" connections=\"many\"/>"
            "<Card number=\"two\" status=\"ready\"/><Card number=\"1e9\" status=\"ready\"/>"
            "<Card number=\" 4 \" status=\"ready\" connections=\"70000\"/></Cards>");
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].second.Name.size(), big.size());
    EXPECT_EQ(statuses[0].second.Connections, 0);
    EXPECT_EQ(statuses[1].first, 4);
    EXPECT_EQ(statuses[1].second.Connections, 32767);
    deliver("<Indicators level=\"-99999999999\"/>");
    ASSERT_EQ(indicators.size(), 1u);
    EXPECT_EQ(indicators[0].Level, -32768);
}

TEST_F(Replies, EntitiesAreNeitherFetchedNorExpandedWithoutBound)
{
    // An external entity must not pull a local file into the reply.
    deliver(
        "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<Error>[&x;]</Error>");
    for (const auto& e : errors) EXPECT_FALSE(e.second.contains("root:")) << e.second.toStdString();

    // Exponential expansion ("billion laughs") ends in a load error or a
    // bounded text, never in an exhausted memory.
    QByteArray bomb = "<?xml version=\"1.0\"?><!DOCTYPE b [<!ENTITY l0 \"lollollollollollollollollollol\">";
    for (int i = 1; i < 10; ++i)
        bomb += QString("<!ENTITY l%1 \"&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;\">")
                    .arg(i)
                    .arg(i - 1)
                    .toLatin1();
    bomb += "]><Error>&l9;</Error>";
    deliver(bomb);
    for (const auto& e : errors) EXPECT_LT(e.second.size(), 10 * 1000 * 1000);
    EXPECT_TRUE(link.connected());
}

TEST(RepliesNotifier, WithoutNotifierTheLoadErrorGoesToStderr)
{
    TestServer server;
    CardLink link;
    link.setTiming(fastTiming());
    ASSERT_EQ(Access::open(link, "127.0.0.1", server.port()), 0);
    ASSERT_TRUE(waitUntil([&] { return server.clientConnected(); }));
    ASSERT_TRUE(server.handshake(link));
    QSignalSpy spy(&link, &CardLink::OnCardError);
    testing::internal::CaptureStderr();
    server.sendXml(5, "<broken");
    server.sendXml(6, "<Error>done</Error>");
    const bool done = waitUntil([&] { return spy.count() == 1; });
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(done);
    EXPECT_NE(err.find("Error Loading: "), std::string::npos) << err;
}

TEST_F(Replies, EveryTruncationAndByteFlipOfARealReplyIsSurvived)
{
    const QByteArray reply =
        "<?xml version=\"1.0\"?>\r\n<Message version=\"1.0\"><Information>"
        "<Cards><Card number=\"1\" name=\"DC1\" serial-nr=\"S\" status=\"ready\"/></Cards>"
        "<Indicators status=\"locked\" level=\"50\" bargraph=\"||\"/>"
        "<ParameterList><Parameter name=\"input\" value=\"inp2\"/><Parameter name=\"speed\" value=\"1.5\"/>"
        "</ParameterList></Information><Data><Text><Translated>~#x41;</Translated></Text>"
        "<Binary encoding=\"base16\" bit-count=\"8\">A5</Binary></Data><Error>e</Error></Message>";
    for (qsizetype cut = 0; cut < reply.size(); cut += 3) deliver(reply.left(cut));
    const char flips[] = {'<', '>', '"', '&', '\0', '\xff', '/'};
    for (qsizetype at = 0; at < reply.size(); at += 5) {
        QByteArray bad = reply;
        bad[at] = flips[at % sizeof flips];
        deliver(bad);
    }
    EXPECT_TRUE(link.connected());
    EXPECT_FALSE(loadErrors.empty());
}
