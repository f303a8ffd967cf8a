// Card search, card table look-up and card selection.
//
// TO BE FILLED by the card-search work: these definitions only keep the
// library linkable until then.
#include "quesmer/cardlink.h"

namespace quesmer {

void CardLink::waitForCardList()
{
    while (!enumDone_)
        pauseAndProcess(timing_.waitPauseMs);
}

Integer CardLink::CardSearch(ByRef<QString> Host, ByRef<Long> Port)
{
    Q_UNUSED(Host);
    Q_UNUSED(Port);
    return -1;   // to be filled
}

Boolean CardLink::CardStatus(ByRef<Integer> Number, CardStatusRecord& Status)
{
    Q_UNUSED(Number);
    Q_UNUSED(Status);
    return FALSE_B;   // to be filled
}

Integer CardLink::CardConnectByNumber(ByRef<QString> Host, ByRef<Long> Port, ByRef<Integer> Number)
{
    Q_UNUSED(Host);
    Q_UNUSED(Port);
    Q_UNUSED(Number);
    return -1;   // to be filled
}

Integer CardLink::CardConnectBySerial(ByRef<QString> Host, ByRef<Long> Port, ByRef<QString> Serial)
{
    Q_UNUSED(Host);
    Q_UNUSED(Port);
    Q_UNUSED(Serial);
    return -1;   // to be filled
}

QString CardLink::CardConnectError(ByRef<Integer> Error)
{
    Q_UNUSED(Error);
    return QString();   // to be filled
}

void CardLink::CardDisconnect()
{
    closeConnection();   // to be filled: release the selected card first
}

}  // namespace quesmer
