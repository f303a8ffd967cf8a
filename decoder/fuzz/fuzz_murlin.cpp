// libFuzzer target: feeds arbitrary input to the decoder through both entries
// and both polarities, reads everything back after each event and checks the
// record's invariants (terminated texts, untouched reserved bytes).
//
// Input: the first byte picks the mode. Even: every further byte goes to
// RDSBytFrame (bit 1 of the mode byte is the invert flag), so a packed bit
// stream is a readable seed. Odd: the bytes are (control, value) pairs that
// mix RDSBitFrame, RDSBytFrame, RDSInit, RDSStat and the lookups.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "murlin.h"

namespace {

void Require(bool condition)
{
    if (!condition) std::abort();
}

void RequireText(const char* text, std::size_t size) { Require(std::memchr(text, '\0', size) != nullptr); }

void ReadBack(int32_t status, int32_t probe)
{
    Require((status & ~0xFFFF) == 0);
    const int sequence = (status >> 12) & 0xF;
    const int sync = (status >> 8) & 0xF;
    const int check = (status >> 4) & 0xF;
    const int block = status & 0xF;
    Require(sequence <= 1 && sync <= 3 && check <= 3 && block <= 5);
    // The full read-back is for completed groups and resets; the lookups scan
    // a table, so doing them at every block would only slow the search down.
    if (sequence != 0 && sync != 1 && (probe & 7) != 0) return;

    DecoderState s;
    std::memset(&s, 0xA5, sizeof s);
    Require(RDSStruct(&s) == 0);
    Require(s.reserved77 == 0 && s.reserved181 == 0 && s.reserved221 == 0);
    RequireText(s.ps, sizeof s.ps);
    RequireText(s.radioText, sizeof s.radioText);
    RequireText(s.radioTextB, sizeof s.radioTextB);
    RequireText(s.clockText, sizeof s.clockText);
    RequireText(s.eonPs, sizeof s.eonPs);
    Require(s.afCount <= 25);

    for (int n = -1; n <= 4; ++n) {
        const char* line = RDSDisplay(n);
        if (n < 0 || n > 3) {
            Require(line == nullptr);
        } else {
            Require(line != nullptr);
            RequireText(line, 255);
        }
        const int32_t word = RDSData(n);
        Require(word >= 0 && word <= 0xFFFF);
    }
    for (int32_t n : {-1, 0, 1, 2, 3, int32_t(s.pty), 31, 32, 1 << 30}) {
        const char* pty = RDSPTYDesc(n);
        Require((pty != nullptr) == (n >= 0 && n <= 31));
    }
    for (int32_t n : {-1, int32_t(s.tmcDP), 7, 8}) {
        const char* dp = RDSDPDesc(n);
        Require((dp != nullptr) == (n >= 0 && n <= 7));
    }
    for (int32_t n : {int32_t(s.tmcEvent), probe & 0xFFF, -probe, 2049}) {
        const char* event = RDSEVTDesc(n);
        if (n < 0 || n > 2048) Require(event == nullptr);
        if (event != nullptr) RequireText(event, 256);
    }
    for (int n = 0; n < 3; ++n) (void)RDSStat(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    RDSInit();
    RDSStat(3);
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;

    if ((mode & 1) == 0) {
        const int invert = (mode >> 1) & 1;
        for (std::size_t i = 0; i < size; ++i) {
            const int32_t status = RDSBytFrame(data[i], invert);
            if (status != MURLIN_STATUS_NONE) ReadBack(status, int32_t(i));
        }
        return 0;
    }

    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const uint8_t control = data[i];
        const uint8_t value = data[i + 1];
        int32_t status = MURLIN_STATUS_NONE;
        switch (control & 7) {
            case 0:
            case 1:
                status = RDSBytFrame(value, control & 1);
                break;
            case 2:
            case 3:
                for (int bit = 7; bit >= 0 && status == MURLIN_STATUS_NONE; --bit)
                    status = RDSBitFrame((value >> bit) & 1, control & 1);
                break;
            case 4:
                // Any nonzero value is a one; out-of-range argument values too.
                status = RDSBitFrame(int32_t(value) << (control >> 3), control >> 7);
                break;
            case 5:
                status = RDSBytFrame(int32_t(value) | (int32_t(control) << 8), value & 0x80);
                break;
            case 6:
                if ((control >> 3) == 0x1F)
                    RDSInit();
                else if ((control >> 3) == 0x1E)
                    RDSStat(value - 128);
                else
                    status = RDSBitFrame(value & 1, (value >> 1) & 1);
                break;
            default:
                ReadBack(MURLIN_STATUS_NONE, int32_t(value) * 9);
                break;
        }
        if (status != MURLIN_STATUS_NONE) ReadBack(status, int32_t(control) << 4 | value);
    }
    return 0;
}
