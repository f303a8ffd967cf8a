// XML replies of the decoder-card server as typed values.
//
// The parser only reads: it turns one MSG_XML text into the replies it
// carries, in document order, and the control acts on them (updates its
// card table, raises the events). Recognised elements may sit at any depth.
#pragma once

#include "quesmer/types.h"

#include <QByteArray>
#include <QString>
#include <variant>
#include <vector>

namespace quesmer::reply {

// The text did not load; `text` is the "Error Loading: ..." message.
struct LoadError {
    QString text;
};
// Start of a card list: the table is emptied.
struct CardListBegin {};
// One card of the list, in slot Number - 1 (1 to 8); IsConnected is not part of it.
struct Card {
    CardStatus status;
};
// End of a card list.
struct CardListEnd {};
struct Indicator {
    IndicatorInfo info;
};
struct Mode {
    QString modulation, code, alphabet;
    double speed = 0, shift = 0;
    Boolean polarity = FALSE_B;
};
struct Frequency {
    Integer center = 0;
    AFCTyp afc = AFC_OFF;
};
struct Input {
    Integer source = 0, gain = 0;
    Long translation = 0;
    AGCTyp agc = AGC_OFF;
    ALSTyp als = ALS_OFF;
};
struct Filter {
    Integer center = 0, bandwidth = 0;
};
struct CodeList {
    QString xml;
};  // the whole reply text
struct CodeInfo {
    QString xml;
};
struct DataText {
    QString channel;
    Boolean error = TRUE_B;
    QString raw, code, text;
};
struct DataBinary {
    EncTyp encoding = ENC_BIN;
    Integer bitCount = 0;
    QString bits;
};
struct ServerError {
    QString desc;
};

using Reply = std::variant<LoadError, CardListBegin, Card, CardListEnd, Indicator, Mode, Frequency, Input, Filter,
                           CodeList, CodeInfo, DataText, DataBinary, ServerError>;

class ReplyParser {
public:
    // The replies in one XML message (the text after the payload code).
    [[nodiscard]] static std::vector<Reply> parse(const QByteArray& xml);
};

}  // namespace quesmer::reply
