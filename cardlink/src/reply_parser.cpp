// XML replies from the decoder-card server: parsing and event dispatch.
//
// TO BE FILLED by the reply-parser work: these definitions only keep the
// library linkable until then.
#include "quesmer/cardlink.h"

#include <cstdio>

namespace quesmer {

void CardLink::handleXml(const QByteArray& xml)
{
    Q_UNUSED(xml);   // to be filled: parse, walk and raise the events
}

void CardLink::notifyError(const QString& text)
{
    if (notifier_)
        notifier_(text);
    else
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace quesmer
