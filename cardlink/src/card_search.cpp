// Card search, card table look-up and card selection.
//
// The three connecting methods open the connection, wait (with the event
// loop running) for the card list that the server sends by itself after the
// handshake, and then either close again (CardSearch) or ask for one card.
#include "quesmer/cardlink.h"

#include "local_wait.h"
#include "quesmer/requests.h"

namespace quesmer {

namespace {

constexpr Long kDefaultPort = 33234;

// Empty host and negative port take their defaults, written back.
void normaliseAddress(QString& host, Long& port)
{
    if (host.isEmpty()) host = QStringLiteral("127.0.0.1");
    if (port < 0) port = kDefaultPort;
}

}  // namespace

// Polls every waitPauseMs until the card list arrived or the wait ended
// otherwise: the enumeration-done flag is also set by the time-out, a server
// fault and when the connection is closed or lost, so the wait always ends;
// check connected() afterwards. Between polls no step begins: bytes that
// arrive wait for the next poll, which takes them in one step, as when the
// wait slept between polls; so the handshake goes out at the pace it always
// had. False when the control was destroyed meanwhile: the caller must then
// return at once.
bool CardLink::waitForCardList()
{
    while (!enumDone_) {
        holdSteps_ = true;
        if (!detail::pauseFor(this, timing_.waitPauseMs)) return false;
        resumeSteps();
        holdSteps_ = true;  // what arrives from now on waits for the next poll
        if (!detail::letControlPausesEnd(this)) return false;
    }
    resumeSteps();
    return true;
}

Integer CardLink::CardSearch(ByRef<QString> Host, ByRef<Long> Port)
{
    enumDone_ = false;
    cardListSeen_ = false;
    enumEndedBy_.clear();
    selectionFailure_.clear();
    normaliseAddress(Host.get(), Port.get());
    if (startConnection(Host.get(), Port.get()) == 0) {
        if (!waitForConnection() || (connectResult_ == ConnectResult::Open && !waitForCardList()))
            return Integer(ERR_CONTROL_DESTROYED);
    }
    // The result tells what happened: 0 only when a card list arrived.
    if (cardListSeen_) {
        lastErrorNumber_ = 0;
        lastErrorText_.clear();
    } else if (lastErrorNumber_ == 0) {
        lastErrorNumber_ = ERR_NO_CARD_LIST;
        lastErrorText_ =
            enumEndedBy_.isEmpty() ? QStringLiteral("No card list") : QStringLiteral("No card list: ") + enumEndedBy_;
    }
    const Integer result = Integer(lastErrorNumber_);
    closeConnection();
    // A short pause with the events running before the result goes back.
    (void)detail::pauseFor(this, timing_.waitPauseMs);
    return result;
}

Boolean CardLink::CardStatus(ByRef<Integer> Number, CardStatusRecord& Status)
{
    if (!cardListSeen_) return FALSE_B;
    Integer& number = Number.get();
    number = Integer(number - 1);
    // A number below 1 is out of range: reported as a failed look-up, with
    // the caller's variable decreased as for any other number.
    if (number < 0 || number > 6) return FALSE_B;
    Status = cards_[size_t(number)];
    return TRUE_B;
}

// Common start of the two card-selecting methods: open, wait for the list.
// Returns 0 when a card may be asked for, else the method's result.
int CardLink::prepareCardSelection(QString& host, Long& port)
{
    enumDone_ = false;
    enumEndedBy_.clear();
    selectionFailure_.clear();
    normaliseAddress(host, port);
    const int opened = openConnection(host, port);
    if (opened != 0) return opened;
    if (!waitForCardList()) return ERR_CONTROL_DESTROYED;
    if (lastErrorNumber_ == ERR_ENUM_TIMEOUT) {
        selectionFailure_ = lastErrorText_;
        closeConnection();
        return -1;
    }
    // The connection ended during the wait, or the server never completed
    // the handshake: a connect request could not be sent, so success would
    // be a lie.
    if (!connected_) {
        selectionFailure_ = QStringLiteral("the connection ended before the card list arrived");
        closeConnection();
        return lastErrorNumber_ ? lastErrorNumber_ : -1;
    }
    if (!session_) {
        selectionFailure_ = QStringLiteral("the server sent no server information");
        closeConnection();
        return -1;
    }
    return 0;
}

Integer CardLink::CardConnectByNumber(ByRef<QString> Host, ByRef<Long> Port, ByRef<Integer> Number)
{
    const int prepared = prepareCardSelection(Host.get(), Port.get());
    if (prepared != 0) return Integer(prepared);
    Integer& number = Number.get();
    if (number < 1) number = 1;
    if (number <= 7) {
        selectedCard_ = number;
        sendXmlCommand(requests::connectByNumber(number));
        return 0;
    }
    selectionFailure_ = QStringLiteral("card number %1 is beyond 7").arg(number);
    closeConnection();
    return -1;
}

Integer CardLink::CardConnectBySerial(ByRef<QString> Host, ByRef<Long> Port, ByRef<QString> Serial)
{
    const int prepared = prepareCardSelection(Host.get(), Port.get());
    if (prepared != 0) return Integer(prepared);
    QString& serial = Serial.get();
    if (serial.isEmpty()) serial = QStringLiteral("--------");
    selectedCard_ = -1;
    for (size_t slot = 0; slot < cards_.size(); ++slot) {
        if (cards_[slot].Serial == serial) {
            selectedCard_ = Integer(slot + 1);
            break;
        }
    }
    if (selectedCard_ > 0) {
        sendXmlCommand(requests::connectBySerial(serial));
        return 0;
    }
    selectionFailure_ = QStringLiteral("no card with serial number \"%1\" in the card list").arg(serial);
    closeConnection();
    return -1;
}

QString CardLink::CardConnectError(ByRef<Integer> Error)
{
    Integer& error = Error.get();
    if (error == 0) return QString();
    if (error == -1) return QStringLiteral("Connect Error");
    error = Integer(lastErrorNumber_);
    return lastErrorText_;
}

QString CardLink::connectErrorText(Integer& error)
{
    QString text = CardConnectError(error);
    if (error == -1 && !selectionFailure_.isEmpty()) text += QStringLiteral(": ") + selectionFailure_;
    return text;
}

void CardLink::CardDisconnect()
{
    if (selectedCard_ >= 1 && selectedCard_ <= 8) {
        sendXmlCommand(requests::disconnect());
        CardStatusRecord& entry = cards_[size_t(selectedCard_ - 1)];
        entry.IsOk = FALSE_B;
        entry.IsConnected = FALSE_B;
        selectedCard_ = -1;
    }
    closeConnection();
}

}  // namespace quesmer
