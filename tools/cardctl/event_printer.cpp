#include "event_printer.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace cardctl {

using namespace quesmer;

namespace {

QJsonValue flag(Boolean b) { return QJsonValue(b != 0); }

const char* const kErrNames[] = {"ERR_NON", "ERR_NET", "ERR_MSG", "ERR_XML"};
const char* const kAgcNames[] = {"off", "on", "low-noise"};
const char* const kAlsNames[] = {"off", "stop", "start"};

QString nameOf(const char* const* names, int count, int value)
{
    return value >= 0 && value < count ? QString::fromLatin1(names[value]) : QString::number(value);
}

}  // namespace

QByteArray jsonLine(const JsonFields& fields)
{
    QByteArray out = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ',';
        // Serialise through a one-element array so strings get JSON escaping.
        QByteArray key = QJsonDocument(QJsonArray{fields[i].first}).toJson(QJsonDocument::Compact);
        QByteArray value = QJsonDocument(QJsonArray{fields[i].second}).toJson(QJsonDocument::Compact);
        out += key.mid(1, key.size() - 2) + ':' + value.mid(1, value.size() - 2);
    }
    return out + "}";
}

QString encodingName(EncTyp encoding)
{
    switch (encoding) {
        case ENC_BIN:
            return "base2";
        case ENC_HEX:
            return "base16";
        case ENC_B64:
            return "base64";
        case ENC_B64MIME:
            return "base64-mime";
    }
    return QString::number(int(encoding));
}

EventPrinter::EventPrinter(CardLink& link, std::FILE* out, QObject* parent) : QObject(parent), out_(out)
{
    connect(&link, &CardLink::OnServerInformation, this, [this](const ServerInformation& i) {
        print({{"event", "OnServerInformation"},
               {"connectionInfo", i.ConnectionInfo},
               {"serverVersion", QString("%1.%2").arg(i.ServerMajorVersion).arg(i.ServerMinorVersion)},
               {"protocolVersion", QString("%1.%2").arg(i.ProtocolMajorVersion).arg(i.ProtocolMinorVersion)},
               {"buildId", i.ServerBuildId},
               {"buildDate", i.BuildDate},
               {"buildTime", i.BuildTime},
               {"softwareRelease", i.SoftwareRelease},
               {"cardType", i.CardType}});
    });
    connect(&link, &CardLink::OnCardStatus, this, [this](Integer n, const CardStatus& s) {
        print({{"event", "OnCardStatus"},
               {"number", n},
               {"name", s.Name},
               {"device", s.Device},
               {"serial", s.Serial},
               {"access", flag(s.Access)},
               {"ready", flag(s.Ready)},
               {"status", s.Status},
               {"connections", s.Connections},
               {"connected", flag(s.IsConnected)}});
    });
    connect(&link, &CardLink::OnCardConnected, this, [this] { print({{"event", "OnCardConnected"}}); });
    connect(&link, &CardLink::OnCardDisconnected, this, [this](Boolean remote, const QString& cause) {
        ++disconnects_;
        print({{"event", "OnCardDisconnected"}, {"remote", flag(remote)}, {"cause", cause}});
    });
    connect(&link, &CardLink::OnCardError, this, [this](ErrTyp e, const QString& desc) {
        print({{"event", "OnCardError"}, {"error", nameOf(kErrNames, 4, e)}, {"desc", desc}});
    });
    connect(&link, &CardLink::OnCardIndicator, this, [this](const IndicatorInfo& i) {
        print({{"event", "OnCardIndicator"}, {"status", i.Status}, {"level", i.Level}, {"bargraph", i.Bargraph}});
    });
    connect(&link, &CardLink::OnCardGetMode, this,
            [this](const QString& m, const QString& c, double speed, double shift, Boolean pol, const QString& a) {
                print({{"event", "OnCardGetMode"},
                       {"modulation", m},
                       {"code", c},
                       {"speed", speed},
                       {"shift", shift},
                       {"polarity", pol ? "inverse" : "normal"},
                       {"alphabet", a}});
            });
    connect(&link, &CardLink::OnCardGetInput, this,
            [this](Integer source, Integer gain, Long translation, AGCTyp agc, ALSTyp als) {
                print({{"event", "OnCardGetInput"},
                       {"source", source},
                       {"gain", gain},
                       {"translation", translation},
                       {"agc", nameOf(kAgcNames, 3, agc)},
                       {"als", nameOf(kAlsNames, 3, als)}});
            });
    connect(&link, &CardLink::OnCardGetFrequency, this, [this](Integer center, AFCTyp afc) {
        print({{"event", "OnCardGetFrequency"}, {"center", center}, {"afc", afc == AFC_ON ? "on" : "off"}});
    });
    connect(&link, &CardLink::OnCardGetFilter, this, [this](Integer center, Integer bandwidth) {
        print({{"event", "OnCardGetFilter"}, {"center", center}, {"bandwidth", bandwidth}});
    });
    connect(
        &link, &CardLink::OnCardDataText, this,
        [this](const QString& channel, Boolean error, const QString& raw, const QString& code, const QString& text) {
            print({{"event", "OnCardDataText"},
                   {"channel", channel},
                   {"error", flag(error)},
                   {"raw", raw},
                   {"code", code},
                   {"text", text}});
        });
    connect(&link, &CardLink::OnCardDataBinary, this, [this](EncTyp enc, Integer bits, const QString& bin) {
        print({{"event", "OnCardDataBinary"},
               {"encoding", encodingName(enc)},
               {"bitCount", bits},
               {"length", bin.size()}});
        if (sink_) sink_(enc, bin);
    });
    connect(&link, &CardLink::OnCardCodeList, this, [this](const QString& xml) {
        print({{"event", "OnCardCodeList"}, {"xml", xml}});
    });
    connect(&link, &CardLink::OnCardCodeInfo, this, [this](const QString& xml) {
        print({{"event", "OnCardCodeInfo"}, {"xml", xml}});
    });
}

void EventPrinter::print(const JsonFields& fields)
{
    const QByteArray line = jsonLine(fields) + "\n";
    std::fwrite(line.constData(), 1, size_t(line.size()), out_);
    std::fflush(out_);
}

}  // namespace cardctl
