#include "quesmer/start_sequence.h"

#include "local_wait.h"

namespace quesmer {

void runEventsFor(int ms) { (void)detail::pauseFor(nullptr, ms); }

void sendRdsStartSequence(CardLink& link, Integer ifInput, const StartPause& pause)
{
    (void)sendRdsStartSequenceWithProgress(link, ifInput, pause, [](int) { return true; });
}

bool sendRdsStartSequenceWithProgress(CardLink& link, Integer ifInput, const StartPause& pause,
                                      const StartProgress& progress)
{
    int step = 0;
    // A handler may destroy the link while a pause lets events run: the
    // sequence then ends. A pause lasts at least until the link has taken
    // the frames it was looking at when the time ran out, so that the card's
    // answer counts into the pause.
    auto paused = [&](int ms) {
        return detail::outlives(&link, [&] { pause(ms); }) && detail::letControlPausesEnd(&link) && progress(step);
    };
    auto settle = [&] { return paused(20) && paused(20); };
    auto next = [&] { return progress(++step); };

    if (!next()) return false;
    link.CardSetConfiguration(TRUE_B, TXT_RAW, ENC_HEX);
    if (!settle() || !next()) return false;
    link.CardSetMode(QString("dbpsk"), QString("hf-analysis-bit-stream"), 1187.5, 2400.0);
    if (!settle() || !next()) return false;
    link.CardSetInput(ifInput, Integer(40), Long(57000));
    if (!settle() || !next()) return false;
    link.CardSetFilter(Integer(1200), Integer(2400));
    if (!settle() || !next()) return false;
    link.CardSetFrequency(Integer(1200), AFC_OFF);
    if (!settle() || !next()) return false;

    link.CardSetALS(ALS_START);
    for (int i = 0; i < 101; ++i) {
        if (!paused(50)) return false;
    }
    if (!next()) return false;
    link.CardSetALS(ALS_STOP);
    return true;
}

}  // namespace quesmer
