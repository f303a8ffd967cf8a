// Placeholder until the generated ALERT-C table replaces this file.
#include "event_table.h"

namespace murlin {

const EventRow EventTable[] = {{-1, nullptr}};
const int EventTableSize = 0;

}  // namespace murlin
