// Daskel: the card client control as a widget.
//
// Its face is the connection indicator (a filled circle: red after a
// disconnection, light orange while the TCP connection is open or data is
// being looked at, green in session, light blue when the server quits). It
// owns a CardLink, forwards every method to it and re-emits every event.
// A reply that does not parse shows a modal message box.
#pragma once

#include "quesmer/cardlink.h"

#include <QWidget>

namespace quesmer {

class Daskel : public QWidget {
    Q_OBJECT
public:
    using CardStatusRecord = quesmer::CardStatus;

    explicit Daskel(QWidget* parent = nullptr);
    ~Daskel() override;

    CardLink& link() { return *link_; }
    QColor indicatorColour() const;
    QSize sizeHint() const override;

    void CardRawReq(ByRef<QString> Dat);
    void CardSetReq(ByRef<QString> Dat);
    void CardGetReq(ByRef<QString> Dat);
    void CardGetStatus();
    void CardGetCodeList();
    void CardGetCodeInf(ByRef<QString> Code);
    void CardActivateGUI(ByRef<QString> Host = QString("127.0.0.1"), ByRef<Long> Port = Long(33135));
    void CardSetConfiguration(ByRef<Integer> HeaderLong = Integer(-1), ByRef<TXTTyp> TextFmt = TXTTyp(-1),
                              ByRef<EncTyp> BinFmt = EncTyp(-1), ByRef<Integer> IndicatorPerMin = Integer(-1),
                              ByRef<Integer> FFTPerSec = Integer(-1));
    void CardSetInput(ByRef<Integer> Source = Integer(-1), ByRef<Integer> Gain = Integer(-1),
                      ByRef<Long> Translation = Long(-1), ByRef<AGCTyp> AGC = AGCTyp(-1));
    void CardSetALS(ByRef<ALSTyp> ALS);
    void CardSetMode(ByRef<QString> Modulation = QString(), ByRef<QString> Code = QString(), ByRef<double> Speed = -1.0,
                     ByRef<double> Shift = -1.0, ByRef<Integer> Polarity = Integer(-1),
                     ByRef<QString> Alphabet = QString(), ByRef<Boolean> Auto = FALSE_B);
    void CardSetFrequency(ByRef<Integer> Center = Integer(-1), ByRef<AFCTyp> AFC = AFCTyp(-1));
    void CardSetFilter(ByRef<Integer> Center = Integer(-1), ByRef<Integer> Bandwidth = Integer(-1));
    [[nodiscard]] Integer CardSearch(ByRef<QString> Host = QString("127.0.0.1"), ByRef<Long> Port = Long(33234));
    [[nodiscard]] Boolean CardStatus(ByRef<Integer> Number, CardStatusRecord& Status);
    [[nodiscard]] Integer CardConnectByNumber(ByRef<QString> Host = QString("127.0.0.1"),
                                              ByRef<Long> Port = Long(33234), ByRef<Integer> Number = Integer(1));
    [[nodiscard]] Integer CardConnectBySerial(ByRef<QString> Host = QString("127.0.0.1"),
                                              ByRef<Long> Port = Long(33234), ByRef<QString> Serial = QString());
    QString CardConnectError(ByRef<Integer> Error);
    void CardDisconnect();

signals:
    void OnServerInformation(const quesmer::ServerInformation& Information);
    void OnCardStatus(quesmer::Integer Number, const quesmer::CardStatus& Status);
    void OnCardConnected();
    void OnCardDisconnected(quesmer::Boolean Remote, const QString& Cause);
    void OnCardError(quesmer::ErrTyp Error, const QString& Desc);
    void OnCardIndicator(const quesmer::IndicatorInfo& Data);
    void OnCardGetMode(const QString& Modulation, const QString& Code, double Speed, double Shift,
                       quesmer::Boolean Polarity, const QString& Alphabet);
    void OnCardGetInput(quesmer::Integer Source, quesmer::Integer Gain, quesmer::Long Translation, quesmer::AGCTyp AGC,
                        quesmer::ALSTyp ALS);
    void OnCardGetFrequency(quesmer::Integer Center, quesmer::AFCTyp AFC);
    void OnCardGetFilter(quesmer::Integer Center, quesmer::Integer Bandwidth);
    void OnCardDataText(const QString& Channel, quesmer::Boolean Error, const QString& Raw, const QString& Code,
                        const QString& Text);
    void OnCardDataBinary(quesmer::EncTyp Encoding, quesmer::Integer BitCount, const QString& Bin);
    void OnCardCodeList(const QString& XMLData);
    void OnCardCodeInfo(const QString& XMLData);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CardLink* link_;
};

}  // namespace quesmer
