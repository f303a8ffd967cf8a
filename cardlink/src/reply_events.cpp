// The control acting on the XML replies of the server: card table, indicator
// and the events, in the order the replies came.
#include "quesmer/cardlink.h"

#include "reply_parser.h"

#include <QPointer>
#include <cstdio>

namespace quesmer {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

void CardLink::handleXml(const QByteArray& xml)
{
    // Each reply raises at most one event, except an indicator (see below).
    // A handler may destroy the control: the rest of the message is then lost.
    const QPointer<CardLink> self(this);
    for (const reply::Reply& r : reply::ReplyParser::parse(xml)) {
        bool indicator = false;
        std::visit(
            Overloaded{
                [&](const reply::LoadError& e) { notifyError(e.text); },
                [&](const reply::CardListBegin&) {
                    cardCount_ = 0;
                    for (auto& entry : cards_) entry.IsOk = FALSE_B;
                },
                [&](const reply::Card& c) {
                    // IsConnected stays as it was.
                    CardStatusRecord& entry = cards_[size_t(c.status.Number - 1)];
                    const Boolean isConnected = entry.IsConnected;
                    entry = c.status;
                    entry.IsConnected = isConnected;
                    ++cardCount_;
                    // Handlers get a copy: a re-entrant card list must not change it under them.
                    const CardStatusRecord copy = entry;
                    emit OnCardStatus(c.status.Number, copy);
                },
                [&](const reply::CardListEnd&) {
                    cardListSeen_ = true;
                    enumDone_ = true;
                    // A list that comes after the enumeration timed out voids the time-out.
                    if (lastErrorNumber_ == ERR_ENUM_TIMEOUT) {
                        lastErrorNumber_ = 0;
                        lastErrorText_.clear();
                    }
                },
                [&](const reply::Indicator& i) {
                    indicator = true;
                    if (i.info.Status != lastIndicator_.Status || i.info.Level != lastIndicator_.Level ||
                        i.info.Bargraph != lastIndicator_.Bargraph) {
                        lastIndicator_ = i.info;
                        emit OnCardIndicator(i.info);
                    }
                },
                [&](const reply::Mode& m) {
                    emit OnCardGetMode(m.modulation, m.code, m.speed, m.shift, m.polarity, m.alphabet);
                },
                [&](const reply::Frequency& f) { emit OnCardGetFrequency(f.center, f.afc); },
                [&](const reply::Input& in) {
                    emit OnCardGetInput(in.source, in.gain, in.translation, in.agc, in.als);
                },
                [&](const reply::Filter& f) { emit OnCardGetFilter(f.center, f.bandwidth); },
                [&](const reply::CodeList& c) { emit OnCardCodeList(c.xml); },
                [&](const reply::CodeInfo& c) { emit OnCardCodeInfo(c.xml); },
                [&](const reply::DataText& t) { emit OnCardDataText(t.channel, t.error, t.raw, t.code, t.text); },
                [&](const reply::DataBinary& b) { emit OnCardDataBinary(b.encoding, b.bitCount, b.bits); },
                [&](const reply::ServerError& e) { emit OnCardError(ERR_XML, e.desc); },
            },
            r);
        if (!self) return;
        // The first indicator after a connect request tells that the card is connected.
        if (indicator && selectedCard_ > 0 && selectedCard_ <= Integer(cards_.size()) &&
            !cards_[size_t(selectedCard_ - 1)].IsConnected) {
            cards_[size_t(selectedCard_ - 1)].IsConnected = TRUE_B;
            emit OnCardConnected();
            if (!self) return;
        }
    }
}

void CardLink::notifyError(const QString& text)
{
    if (notifier_)
        notifier_(text);
    else
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace quesmer
