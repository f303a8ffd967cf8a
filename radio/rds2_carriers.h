// The subcarriers of RDS2's data streams 0..3: 3, 3.5, 3.75 and 4 times the
// 19 kHz pilot, each with RDS's modulation at 1187.5 bit/s.
#pragma once

namespace varnak::radio {

constexpr double kRds2CarrierHz[4] = {57000, 66500, 71250, 76000};

}  // namespace varnak::radio
