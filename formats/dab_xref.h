// DAB cross-reference (open data application 0x0093): the station names
// the DAB ensemble that carries it (ensemble identifier, frequency, mode)
// and its DAB service identifier.
#pragma once

#include <cstdint>
#include <optional>

namespace rdsformats {

struct DabEnsemble {
    uint16_t eid = 0;
    uint32_t frequencyKhz = 0;  // multiples of 16 kHz
    int mode = 0;               // 0 unspecified, 1 mode I, 2 mode II or III, 3 mode IV
};

struct DabService {
    uint16_t eid = 0;  // the ensemble that carries it
    uint16_t sid = 0;  // the service
};

class DabCrossReference {
public:
    // Takes blocks B, C and D of a group carrying the application.
    void feed(uint16_t b, uint16_t c, uint16_t d);
    void clear() { *this = DabCrossReference{}; }
    const std::optional<DabEnsemble>& ensemble() const { return ensemble_; }
    const std::optional<DabService>& service() const { return service_; }

    // "Mode I" etc. for a mode code 0..3.
    static const char* ModeName(int mode);

private:
    std::optional<DabEnsemble> ensemble_;
    std::optional<DabService> service_;
};

}  // namespace rdsformats
