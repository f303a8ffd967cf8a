// Request texts, byte for byte: first the builder on its own, then the
// engine's methods over a loopback connection, with their write-backs.
#include "quesmer/requests.h"
#include "quesmer/daskel.h"
#include "test_server.h"

#include <gtest/gtest.h>
#include <QLocale>

using namespace quesmer;
using namespace quesmer::test;
namespace rq = quesmer::requests;

namespace {

QString wrap(const QString& body)
{
    return "<Message version=\"1.0\">\r\n<Command>\r\n" + body + "</Command>\r\n</Message>\r\n";
}
QString setParams(const QString& params)
{
    return wrap("<Set>\r\n<ParameterList>\r\n" + params + "\r\n</ParameterList>\r\n\r\n</Set>\r\n");
}
QString param(const QString& name, const QString& value)
{
    return "<Parameter name=\"" + name + "\" value=\"" + value + "\"/>\r\n";
}

}  // namespace

TEST(RequestBuilder, SimpleRequests)
{
    EXPECT_EQ(rq::getStatus(), wrap("<Get item=\"card status\"/>\r\n"));
    EXPECT_EQ(rq::getCodeList(), wrap("<Get item=\"metadata\" information=\"code-list\"/>\r\n"));
    EXPECT_EQ(rq::raw("<Anything/>"), wrap("<Anything/>"));
    EXPECT_EQ(rq::raw(""), wrap(""));
    EXPECT_EQ(rq::set("<X a=\"1\"/>"), wrap("<Set>\r\n<X a=\"1\"/>\r\n</Set>\r\n"));
    EXPECT_EQ(rq::set(""), wrap("<Set>\r\n\r\n</Set>\r\n"));
    EXPECT_EQ(rq::get("item=\"x\""), wrap("<Get item=\"x\"/>\r\n"));
    EXPECT_EQ(rq::get(""), wrap("<Get/>\r\n"));
    EXPECT_EQ(rq::connectByNumber(3), wrap("<Connect>\r\n<Card number=\"3\"/>\r\n</Connect>\r\n"));
    EXPECT_EQ(rq::connectBySerial("A-12"), wrap("<Connect>\r\n<Card serial-nr=\"A-12\"/>\r\n</Connect>\r\n"));
    EXPECT_EQ(rq::disconnect(), wrap("<Disconnect/>\r\n"));
    EXPECT_EQ(rq::activateGui("127.0.0.1", 33135),
              wrap("<Activate item=\"GUI-Application\">\r\n<Server address=\"127.0.0.1\" port=\"33135\"/>\r\n"
                   "</Activate>\r\n"));
    EXPECT_EQ(rq::activateGui("", -4), wrap("<Activate item=\"GUI-Application\">\r\n<Server address=\"\" "
                                            "port=\"-4\"/>\r\n</Activate>\r\n"));
}

TEST(RequestBuilder, CodeInfoLowersTheCode)
{
    QString code = "ABC";
    EXPECT_EQ(rq::getCodeInfo(code),
              wrap("<Get item=\"metadata\" information=\"code\" additional-information=\"abc\"/>\r\n"));
    EXPECT_EQ(code, "abc");
}

TEST(RequestBuilder, InsertedValuesAreEscaped)
{
    EXPECT_EQ(rq::escape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    QString code = "X\"/><Evil";
    EXPECT_EQ(rq::getCodeInfo(code), wrap("<Get item=\"metadata\" information=\"code\" "
                                          "additional-information=\"x&quot;/&gt;&lt;evil\"/>\r\n"));
    EXPECT_EQ(code, "x\"/><evil");  // the caller gets the plain text back
    EXPECT_EQ(rq::connectBySerial("<&>"), wrap("<Connect>\r\n<Card serial-nr=\"&lt;&amp;&gt;\"/>\r\n</Connect>\r\n"));
    QString m = "A&B", c, a;
    double shift = -1;
    EXPECT_EQ(rq::setMode(m, c, -1, shift, -1, a, FALSE_B), setParams(param("modulation", "a&amp;b")));
}

TEST(RequestBuilder, ConfigurationAttributes)
{
    Integer ind = -1, fft = -1;
    EXPECT_EQ(rq::setConfiguration(-1, TXTTyp(-1), EncTyp(-1), ind, fft), QString());
    EXPECT_EQ(rq::setConfiguration(-1, TXT_ALL, EncTyp(-1), ind, fft),
              wrap("<Set>\r\n<Configuration text-data-format=\"all\" />\r\n</Set>\r\n"));
    ind = 7000;
    fft = 500;
    EXPECT_EQ(rq::setConfiguration(0, TXT_TRANSLATED, ENC_B64MIME, ind, fft),
              wrap("<Set>\r\n<Configuration message-header=\"short\" text-data-format=\"translated\" "
                   "binary-data-format=\"base64-mime\" information-indicators-interval-per-minute=\"6001\" "
                   "fft-interval-per-second=\"101\" />\r\n</Set>\r\n"));
    EXPECT_EQ(ind, 6001);
    EXPECT_EQ(fft, 101);
    ind = 6000;
    fft = 100;
    EXPECT_EQ(rq::setConfiguration(1, TXTTyp(9), ENC_HEX, ind, fft),
              wrap("<Set>\r\n<Configuration message-header=\"extended\" text-data-format=\"raw\" "
                   "binary-data-format=\"base16\" information-indicators-interval-per-minute=\"6000\" "
                   "fft-interval-per-second=\"100\" />\r\n</Set>\r\n"));
    EXPECT_EQ(ind, 6000);
    Integer no = -1;
    EXPECT_EQ(rq::setConfiguration(-1, TXTTyp(-1), ENC_BIN, no, no),
              wrap("<Set>\r\n<Configuration binary-data-format=\"base2\" />\r\n</Set>\r\n"));
    EXPECT_EQ(rq::setConfiguration(-1, TXTTyp(-1), ENC_B64, no, no),
              wrap("<Set>\r\n<Configuration binary-data-format=\"base64\" />\r\n</Set>\r\n"));
}

TEST(RequestBuilder, InputSendsTranslationBeforeGainAndReplacesOutOfRange)
{
    Integer src = -1, gain = -1;
    Long tr = -1;
    EXPECT_EQ(rq::setInput(src, gain, tr, AGCTyp(-1)), QString());
    src = 3, gain = 40, tr = 57000;
    EXPECT_EQ(rq::setInput(src, gain, tr, AGCTyp(-1)),
              setParams(param("input", "inp3") + param("translation", "57000") + param("inputgain", "40")));
    src = 7, gain = 101, tr = 21500001;
    EXPECT_EQ(rq::setInput(src, gain, tr, AGC_LOWNOISE),
              setParams(param("input", "inp1") + param("translation", "1") + param("inputgain", "50") +
                        param("agc", "low-noise")));
    EXPECT_EQ(src, 1);
    EXPECT_EQ(gain, 50);
    EXPECT_EQ(tr, 1);
    src = 0, gain = 0, tr = -2;
    rq::setInput(src, gain, tr, AGC_ON);
    EXPECT_EQ(src, 1);
    EXPECT_EQ(gain, 50);
    EXPECT_EQ(tr, 1);
    src = 6, gain = 100, tr = 21500000;
    Integer s2 = -1, g2 = -1;
    Long t2 = -1;
    EXPECT_EQ(rq::setInput(s2, g2, t2, AGCTyp(5)), setParams(param("agc", "off")));
    rq::setInput(src, gain, tr, AGC_OFF);
    EXPECT_EQ(src, 6);
    EXPECT_EQ(gain, 100);
    EXPECT_EQ(tr, 21500000);
}

TEST(RequestBuilder, AlsIsAlwaysSent)
{
    EXPECT_EQ(rq::setAls(ALS_START), setParams(param("als", "start")));
    EXPECT_EQ(rq::setAls(ALS_STOP), setParams(param("als", "stop")));
    EXPECT_EQ(rq::setAls(ALS_OFF), setParams(param("als", "off")));
    EXPECT_EQ(rq::setAls(ALSTyp(-1)), setParams(param("als", "")));
    EXPECT_EQ(rq::setAls(ALSTyp(9)), setParams(param("als", "")));
}

TEST(RequestBuilder, ModeFormatsDoublesWithAPointInAnyLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    QString m = "DBPSK", c = "HF-Analysis-Bit-Stream", a = "";
    double shift = 2400;
    EXPECT_EQ(rq::setMode(m, c, 1187.5, shift, -1, a, FALSE_B),
              setParams(param("modulation", "dbpsk") + param("code", "hf-analysis-bit-stream") +
                        param("speed", "1187.5") + param("shift", "2400")));
    EXPECT_EQ(m, "dbpsk");
    EXPECT_EQ(c, "hf-analysis-bit-stream");
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(saved);

    EXPECT_EQ(rq::formatDouble(0.1), "0.1");
    EXPECT_EQ(rq::formatDouble(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(rq::formatDouble(160000), "160000");
    EXPECT_EQ(rq::formatDouble(-2.5), "-2.5");
}

TEST(RequestBuilder, ModePolarityShiftAlphabetAndAuto)
{
    QString m, c, a = "ITA2";
    double shift = 49.5;
    EXPECT_EQ(rq::setMode(m, c, -1, shift, 0, a, TRUE_B),
              setParams(param("shift", "50") + param("polarity", "normal") + param("alphabet", "ita2") +
                        param("auto-mode", "on")));
    EXPECT_EQ(shift, 50);
    EXPECT_EQ(a, "ita2");
    shift = 160000.5;
    a.clear();
    EXPECT_EQ(rq::setMode(m, c, -1, shift, 1, a, FALSE_B),
              setParams(param("shift", "50") + param("polarity", "inverse")));
    shift = 160000;
    EXPECT_EQ(rq::setMode(m, c, -1, shift, -1, a, FALSE_B), setParams(param("shift", "160000")));
    shift = -1;
    EXPECT_EQ(rq::setMode(m, c, -1, shift, -1, a, FALSE_B), QString());  // everything left out
    EXPECT_EQ(rq::setMode(m, c, 0, shift, 2, a, FALSE_B), setParams(param("speed", "0") + param("polarity", "normal")));
}

TEST(RequestBuilder, FrequencyAndFilter)
{
    Integer center = 1500;
    EXPECT_EQ(rq::setFrequency(center, AFC_ON),
              "<Message version=\"1.0\">\r\n<Command>\r\n<Set>\r\n<ParameterList>\r\n"
              "<Parameter name=\"center\" value=\"1500\"/>\r\n<Parameter name=\"afc\" value=\"on\"/>\r\n\r\n"
              "</ParameterList>\r\n\r\n</Set>\r\n</Command>\r\n</Message>\r\n");
    center = 22001;
    EXPECT_EQ(rq::setFrequency(center, AFCTyp(3)), setParams(param("center", "1800") + param("afc", "off")));
    EXPECT_EQ(center, 1800);
    center = 99;
    rq::setFrequency(center, AFCTyp(-1));
    EXPECT_EQ(center, 1800);
    center = 22000;
    rq::setFrequency(center, AFCTyp(-1));
    EXPECT_EQ(center, 22000);
    center = -1;
    EXPECT_EQ(rq::setFrequency(center, AFCTyp(-1)), QString());

    Integer pc = 50, bw = 5000;
    EXPECT_EQ(rq::setFilter(pc, bw), setParams(param("passband-center", "1800") + param("passband-bandwidth", "3600")));
    EXPECT_EQ(pc, 1800);
    EXPECT_EQ(bw, 3600);
    pc = 3600, bw = 100;
    EXPECT_EQ(rq::setFilter(pc, bw), setParams(param("passband-center", "3600") + param("passband-bandwidth", "100")));
    pc = -1, bw = -1;
    EXPECT_EQ(rq::setFilter(pc, bw), QString());
}

// ---- Through the engine and the widget, over the wire -----------------------

class Methods : public ::testing::Test {
protected:
    void SetUp() override
    {
        link.setTiming(fastTiming());
        ASSERT_EQ(CardLinkTestAccess::open(link, "127.0.0.1", server.port()), 0);
        ASSERT_TRUE(server.handshake(link));
        server.take();
    }
    // The XML of every command frame received since the last call.
    std::vector<QString> commands()
    {
        spin(30);
        std::vector<QString> out;
        for (const Frame& f : server.frames()) out.push_back(QString::fromLatin1(f.xml()));
        server.take();
        return out;
    }
    TestServer server;
    CardLink link;
};

TEST_F(Methods, EveryMethodSendsItsTextAndWritesBack)
{
    QString dat = "<Raw/>";
    link.CardRawReq(dat);
    link.CardSetReq(QString("<Y/>"));
    link.CardGetReq(QString());
    link.CardGetStatus();
    link.CardGetCodeList();
    QString code = "RTTY";
    link.CardGetCodeInf(code);
    link.CardActivateGUI();
    Integer ind = 7000;
    link.CardSetConfiguration(Integer(-1), TXTTyp(-1), EncTyp(-1), ind);
    link.CardSetInput();  // everything left out: nothing sent
    Integer src = 9;
    link.CardSetInput(src, Integer(40), Long(57000));
    link.CardSetALS(ALS_START);
    QString mod = "DBPSK";
    double shift = 10;
    link.CardSetMode(mod, QString("X"), 1187.5, shift);
    Integer fc = 50;
    link.CardSetFrequency(fc, AFC_OFF);
    Integer pc = 1200, bw = 9999;
    link.CardSetFilter(pc, bw);

    EXPECT_EQ(code, "rtty");
    EXPECT_EQ(ind, 6001);
    EXPECT_EQ(src, 1);
    EXPECT_EQ(mod, "dbpsk");
    EXPECT_EQ(shift, 50);
    EXPECT_EQ(fc, 1800);
    EXPECT_EQ(bw, 3600);

    const std::vector<QString> got = commands();
    Integer i6001 = 6001, no = -1, one = 1, g40 = 40, c1800 = 1800, p1200 = 1200, b3600 = 3600;
    Long t57 = 57000;
    QString rtty = "rtty", dbpsk = "dbpsk", x = "x", empty;
    double s50 = 50;
    const std::vector<QString> want = {rq::raw("<Raw/>"),
                                       rq::set("<Y/>"),
                                       rq::get(""),
                                       rq::getStatus(),
                                       rq::getCodeList(),
                                       rq::getCodeInfo(rtty),
                                       rq::activateGui("127.0.0.1", 33135),
                                       rq::setConfiguration(-1, TXTTyp(-1), EncTyp(-1), i6001, no),
                                       rq::setInput(one, g40, t57, AGCTyp(-1)),
                                       rq::setAls(ALS_START),
                                       rq::setMode(dbpsk, x, 1187.5, s50, -1, empty, FALSE_B),
                                       rq::setFrequency(c1800, AFC_OFF),
                                       rq::setFilter(p1200, b3600)};
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "command " << i;
}

TEST_F(Methods, TheWidgetForwardsCallsAndWriteBacks)
{
    Daskel daskel;
    daskel.link().setTiming(fastTiming());
    ASSERT_EQ(CardLinkTestAccess::open(daskel.link(), "127.0.0.1", server.port()), 0);
    ASSERT_TRUE(server.handshake(daskel.link(), 5, 6));
    server.take();
    Integer pc = 50, bw = 5000;
    daskel.CardSetFilter(pc, bw);
    EXPECT_EQ(pc, 1800);
    EXPECT_EQ(bw, 3600);
    QString code = "ABC";
    daskel.CardGetCodeInf(code);
    EXPECT_EQ(code, "abc");
    const std::vector<QString> got = commands();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], setParams(param("passband-center", "1800") + param("passband-bandwidth", "3600")));
    EXPECT_EQ(got[1], wrap("<Get item=\"metadata\" information=\"code\" additional-information=\"abc\"/>\r\n"));
}

TEST_F(Methods, TextTravelsAsOneBytePerCharacter)
{
    link.CardRawReq(QString::fromLatin1("<T v=\"\xe9\xff\"/>"));
    spin(30);
    ASSERT_EQ(server.frames().size(), 1u);
    EXPECT_EQ(server.frames()[0].xml(), wrap(QString::fromLatin1("<T v=\"\xe9\xff\"/>")).toLatin1());
}
