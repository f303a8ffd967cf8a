#include "sync_indicators.h"

#include "widgets.h"

namespace varnak {
namespace {

using rdsformats::StatusWord;

const QColor kLampLit(255, 255, 192);
const QColor kLampDark(0, 0, 0);
const QColor kGood(0, 255, 0);
const QColor kBetween(255, 192, 128);
const QColor kBad(255, 0, 0);

void SetIndicator(ColourLabel* label, const char* text, const QColor& colour)
{
    label->setCaption(QString::fromLatin1(text));
    label->setBackground(colour);
}

}  // namespace

void SyncIndicators::lightLamps(int last)
{
    for (int i = 0; i < static_cast<int>(w_.blockLamps.size()); ++i)
        w_.blockLamps[i]->setBackground(i <= last ? kLampLit : kLampDark);
}

void SyncIndicators::Mark(Marks& m, StatusWord s)
{
    const int sequence = s.sequence(), sync = s.sync(), check = s.check();
    if (sequence <= 1) m.sequence = static_cast<int8_t>(sequence);
    if (sync <= StatusWord::kLost) m.sync = static_cast<int8_t>(sync);
    if (sync == StatusWord::kLost) m.lamps = -1;
    if (check <= StatusWord::kFailed) m.check = static_cast<int8_t>(check);
    if (check == StatusWord::kNotChecked || check == StatusWord::kFailed) m.lamps = -1;
    // The block position has the last word on the lamps.
    if (s.blockKnown()) m.lamps = static_cast<int8_t>(s.blockIndex());
}

void SyncIndicators::note(StatusWord s) { Mark(marks_, s); }

void SyncIndicators::apply() { draw(marks_); }

void SyncIndicators::draw(Marks& m)
{
    switch (m.sequence) {
        case 0:
            SetIndicator(w_.sequence, "FULL", kGood);
            break;
        case 1:
            SetIndicator(w_.sequence, "PART", kBetween);
            break;
        default:
            break;
    }
    switch (m.sync) {
        case StatusWord::kSynchronised:
            SetIndicator(w_.sync, "SYN", kGood);
            break;
        case StatusWord::kAutoReset:
            SetIndicator(w_.sync, "NOT", kBad);
            break;
        case StatusWord::kSearching:
            SetIndicator(w_.sync, "ACQ", kBetween);
            break;
        case StatusWord::kLost:
            SetIndicator(w_.sync, "LOS", kBad);
            break;
        default:
            break;
    }
    switch (m.check) {
        case StatusWord::kCorrect:
            SetIndicator(w_.check, "OK", kGood);
            break;
        case StatusWord::kNotChecked:
            SetIndicator(w_.check, "UNC", kBad);
            break;
        case StatusWord::kRepaired:
            SetIndicator(w_.check, "COR", kBetween);
            break;
        case StatusWord::kFailed:
            SetIndicator(w_.check, "BAD", kBad);
            break;
        default:
            break;
    }
    if (m.lamps != Marks::kUntouched) lightLamps(m.lamps);
    m = Marks{};
}

void SyncIndicators::show(StatusWord s)
{
    Marks m;
    Mark(m, s);
    draw(m);
}

}  // namespace varnak
