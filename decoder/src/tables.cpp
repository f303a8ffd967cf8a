// Programme-type and duration texts, and the lookup over the TMC event table.
#include "decoder.h"
#include "event_table.h"

namespace murlin {

const char* const kPtyTexts[32] = {
    "None",          "News",           "Current Affairs",  "Information",     "Sport",
    "Education",     "Drama",          "Culture",          "Science",         "Varied Speech",
    "Pop Music",     "Rock Music",     "Easy Listening",   "Light Classical", "Serious Classical",
    "Other Music",   "Weather",        "Finance",          "Children",        "Social Affairs",
    "Religion",      "Phone In",       "Travel & Touring", "Leisure",         "Jazz Music",
    "Country Music", "National Music", "Oldies Music",     "Folk Music",      "Documentary",
    "Alarm Test",    "Alarm",
};

const char* const kDurationTexts[8] = {
    "No duration", "15 minutes", "30 minutes", "1 hour", "2 hours", "3 hours", "4 hours", "All day",
};

// Range test, then a linear scan of the (small, constant) table in order.
const char* FindEvent(int32_t code)
{
    if (code < 0 || code > 2048) return nullptr;
    for (int i = 0; i < kEventTableSize; ++i)
        if (kEventTable[i].code == code) return kEventTable[i].text;
    return nullptr;
}

}  // namespace murlin
