#include "signal_status.h"

#include "radio_run.h"

namespace varnak {
namespace {

QString Percent(double fraction) { return QStringLiteral("%1 %").arg(fraction * 100, 0, 'f', 1); }

// The block error rate, once blocks were checked.
void AddErrors(SignalStatus& s, const BlockErrors& e)
{
    if (e.checked <= 0) return;
    const QString rate = Percent(double(e.failed) / double(e.checked));
    s.brief += QStringLiteral(", BLER %1").arg(rate);
    s.full += QStringLiteral(", block errors %1 (%2 of %3)").arg(rate).arg(e.failed).arg(e.checked);
}

}  // namespace

// The brief text puts what tells most about the reception first: the field
// may have room for its beginning only.
SignalStatus RadioSignalStatus(const radio::SignalReport& r, const BlockErrors& errors)
{
    SignalStatus s;
    s.full = QString::fromStdString(SignalText(r));
    if (r.bits == 0 || !r.rdsFound) {
        s.brief = QStringLiteral("no RDS signal");
    } else {
        s.brief = QStringLiteral("RDS %1, %2 dB").arg(Percent(r.rdsLevel)).arg(r.cnrDb, 0, 'f', 1);
        AddErrors(s, errors);
    }
    s.brief += r.pilotPresent ? QStringLiteral(", pilot ") + Percent(r.pilotLevel) : QStringLiteral(", no pilot");
    return s;
}

SignalStatus CardSignalStatus(const QString& status, int level, const BlockErrors& errors)
{
    SignalStatus s;
    if (status.isEmpty() && level == 0) {
        s.brief = QStringLiteral("card level not yet sent");
        s.full = QStringLiteral("The card has not sent its signal level yet");
    } else {
        const QString state = status.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(status);
        s.brief = QStringLiteral("card level %1%2").arg(level).arg(state);
        s.full = QStringLiteral("The card's signal level: %1%2").arg(level).arg(state);
    }
    AddErrors(s, errors);
    return s;
}

}  // namespace varnak
