#include "quesmer/daskel.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPainter>

namespace quesmer {

Daskel::Daskel(QWidget* parent) : QWidget(parent), link_(new CardLink(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    link_->setErrorNotifier([this](const QString& text) {
        QMessageBox::critical(this, QCoreApplication::applicationName(), text, QMessageBox::Ok);
    });
    // Repaint at once: the flash lasts only as long as the extractor's pause.
    connect(link_, &CardLink::lightChanged, this, [this] { repaint(); });

    connect(link_, &CardLink::OnServerInformation, this, &Daskel::OnServerInformation);
    connect(link_, &CardLink::OnCardStatus, this, &Daskel::OnCardStatus);
    connect(link_, &CardLink::OnCardConnected, this, &Daskel::OnCardConnected);
    connect(link_, &CardLink::OnCardDisconnected, this, &Daskel::OnCardDisconnected);
    connect(link_, &CardLink::OnCardError, this, &Daskel::OnCardError);
    connect(link_, &CardLink::OnCardIndicator, this, &Daskel::OnCardIndicator);
    connect(link_, &CardLink::OnCardGetMode, this, &Daskel::OnCardGetMode);
    connect(link_, &CardLink::OnCardGetInput, this, &Daskel::OnCardGetInput);
    connect(link_, &CardLink::OnCardGetFrequency, this, &Daskel::OnCardGetFrequency);
    connect(link_, &CardLink::OnCardGetFilter, this, &Daskel::OnCardGetFilter);
    connect(link_, &CardLink::OnCardDataText, this, &Daskel::OnCardDataText);
    connect(link_, &CardLink::OnCardDataBinary, this, &Daskel::OnCardDataBinary);
    connect(link_, &CardLink::OnCardCodeList, this, &Daskel::OnCardCodeList);
    connect(link_, &CardLink::OnCardCodeInfo, this, &Daskel::OnCardCodeInfo);
}

Daskel::~Daskel() = default;

QColor Daskel::indicatorColour() const { return lightColour(link_->light()); }

QSize Daskel::sizeHint() const
{
    // 240 twips square: 16 pixels at 96 dpi, scaled with the screen.
    const int side = qRound(16 * logicalDpiX() / 96.0);
    return QSize(side, side);
}

void Daskel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(indicatorColour());
    const int side = std::min(width(), height()) - 2;
    painter.drawEllipse(QRect((width() - side) / 2, (height() - side) / 2, side, side));
}

void Daskel::CardRawReq(ByRef<QString> Dat) { link_->CardRawReq(Dat.get()); }
void Daskel::CardSetReq(ByRef<QString> Dat) { link_->CardSetReq(Dat.get()); }
void Daskel::CardGetReq(ByRef<QString> Dat) { link_->CardGetReq(Dat.get()); }
void Daskel::CardGetStatus() { link_->CardGetStatus(); }
void Daskel::CardGetCodeList() { link_->CardGetCodeList(); }
void Daskel::CardGetCodeInf(ByRef<QString> Code) { link_->CardGetCodeInf(Code.get()); }

void Daskel::CardActivateGUI(ByRef<QString> Host, ByRef<Long> Port) { link_->CardActivateGUI(Host.get(), Port.get()); }

void Daskel::CardSetConfiguration(ByRef<Integer> HeaderLong, ByRef<TXTTyp> TextFmt, ByRef<EncTyp> BinFmt,
                                  ByRef<Integer> IndicatorPerMin, ByRef<Integer> FFTPerSec)
{
    link_->CardSetConfiguration(HeaderLong.get(), TextFmt.get(), BinFmt.get(), IndicatorPerMin.get(), FFTPerSec.get());
}

void Daskel::CardSetInput(ByRef<Integer> Source, ByRef<Integer> Gain, ByRef<Long> Translation, ByRef<AGCTyp> AGC)
{
    link_->CardSetInput(Source.get(), Gain.get(), Translation.get(), AGC.get());
}

void Daskel::CardSetALS(ByRef<ALSTyp> ALS) { link_->CardSetALS(ALS.get()); }

void Daskel::CardSetMode(ByRef<QString> Modulation, ByRef<QString> Code, ByRef<double> Speed, ByRef<double> Shift,
                         ByRef<Integer> Polarity, ByRef<QString> Alphabet, ByRef<Boolean> Auto)
{
    link_->CardSetMode(Modulation.get(), Code.get(), Speed.get(), Shift.get(), Polarity.get(), Alphabet.get(),
                       Auto.get());
}

void Daskel::CardSetFrequency(ByRef<Integer> Center, ByRef<AFCTyp> AFC)
{
    link_->CardSetFrequency(Center.get(), AFC.get());
}

void Daskel::CardSetFilter(ByRef<Integer> Center, ByRef<Integer> Bandwidth)
{
    link_->CardSetFilter(Center.get(), Bandwidth.get());
}

Integer Daskel::CardSearch(ByRef<QString> Host, ByRef<Long> Port) { return link_->CardSearch(Host.get(), Port.get()); }

Boolean Daskel::CardStatus(ByRef<Integer> Number, CardStatusRecord& Status)
{
    return link_->CardStatus(Number.get(), Status);
}

Integer Daskel::CardConnectByNumber(ByRef<QString> Host, ByRef<Long> Port, ByRef<Integer> Number)
{
    return link_->CardConnectByNumber(Host.get(), Port.get(), Number.get());
}

Integer Daskel::CardConnectBySerial(ByRef<QString> Host, ByRef<Long> Port, ByRef<QString> Serial)
{
    return link_->CardConnectBySerial(Host.get(), Port.get(), Serial.get());
}

QString Daskel::CardConnectError(ByRef<Integer> Error) { return link_->CardConnectError(Error.get()); }
void Daskel::CardDisconnect() { link_->CardDisconnect(); }

}  // namespace quesmer
