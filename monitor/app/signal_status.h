// The signal of a live run as the status bar shows it: a short text that
// fits beside the counters, and the whole of it for the item's tool tip.
// Plain functions without widgets, tested on their own.
#pragma once

#include <QString>

#include "murlin_binding.h"
#include "rds_demodulator.h"

namespace varnak {

struct SignalStatus {
    QString brief;  // "RDS 4.5 %, 14.2 dB, BLER 1.2 %, pilot 9.0 %"
    QString full;   // "pilot 9.0 %, RDS 4.5 %, CNR about 14.2 dB, block errors 1.2 % (3 of 250)"
};

// A radio run: the demodulator's report and the decoder's block errors
// (since its counters were cleared; none shown before a block was checked).
// Without RDS blocks no RDS level and no CNR are claimed.
SignalStatus RadioSignalStatus(const radio::SignalReport& report, const BlockErrors& errors);
// A card run: the card's own indicator (its status word and signal level,
// as the card sends them) and the decoder's block errors. An empty status
// with level 0 is an indicator that has not come yet.
SignalStatus CardSignalStatus(const QString& status, int level, const BlockErrors& errors);

}  // namespace varnak
