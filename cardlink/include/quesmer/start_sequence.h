// The card set-up for live RDS decoding: the requests that put a connected
// card into its RDS bit-stream mode, with the pauses a card needs between
// them. The monitor's Card command and cardctl both run it.
#pragma once

#include "quesmer/cardlink.h"

#include <functional>

namespace quesmer {

// Waits about `ms` milliseconds while the event loop keeps running.
using StartPause = std::function<void(int ms)>;

// The default pause: a nested event loop for `ms` milliseconds.
void runEventsFor(int ms);

// Sends, in this order, each followed by two 20 ms pauses:
//   CardSetConfiguration  header true (-1, so left as it is), raw text,
//                         hexadecimal binary data
//   CardSetMode           "dbpsk", "hf-analysis-bit-stream", 1187.5 bit/s, shift 2400
//   CardSetInput          IF input `ifInput`, gain 40, translation 57000
//   CardSetFilter         passband centre 1200, bandwidth 2400
//   CardSetFrequency      centre 1200, AFC off
// then CardSetALS(ALS_START), 101 pauses of 50 ms (about five seconds of
// automatic level setting) and CardSetALS(ALS_STOP). Events raised by the
// link during the pauses reach their handlers as usual.
void sendRdsStartSequence(CardLink& link, Integer ifInput, const StartPause& pause = runEventsFor);

// The requests of the set-up above, for progress shown as "step 3 of 7".
constexpr int kRdsStartSteps = 7;

// Where the set-up is: `step` (1 to kRdsStartSteps) is the request about to
// be sent, or the last one sent while its pauses run. Returning false ends
// the set-up there, with nothing more sent.
using StartProgress = std::function<bool(int step)>;

// The set-up above, telling `progress` before every request and asking it
// again after every pause, so that a user's Stop takes effect within one
// pause. True when the whole set-up was sent; false when `progress` ended it
// or the link was destroyed meanwhile.
bool sendRdsStartSequenceWithProgress(CardLink& link, Integer ifInput, const StartPause& pause,
                                      const StartProgress& progress);

}  // namespace quesmer
