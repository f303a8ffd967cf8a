#include "quesmer/start_sequence.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace quesmer {

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void sendRdsStartSequence(CardLink& link, Integer ifInput, const StartPause& pause)
{
    // A handler may destroy the link while a pause lets events run.
    QPointer<CardLink> alive(&link);
    auto settle = [&] {
        pause(20);
        if (alive)
            pause(20);
        return !alive.isNull();
    };

    link.CardSetConfiguration(TRUE_B, TXT_RAW, ENC_HEX);
    if (!settle())
        return;
    link.CardSetMode(QString("dbpsk"), QString("hf-analysis-bit-stream"), 1187.5, 2400.0);
    if (!settle())
        return;
    link.CardSetInput(ifInput, Integer(40), Long(57000));
    if (!settle())
        return;
    link.CardSetFilter(Integer(1200), Integer(2400));
    if (!settle())
        return;
    link.CardSetFrequency(Integer(1200), AFC_OFF);
    if (!settle())
        return;

    link.CardSetALS(ALS_START);
    for (int i = 0; i < 101 && alive; ++i)
        pause(50);
    if (alive)
        link.CardSetALS(ALS_STOP);
}

}  // namespace quesmer
