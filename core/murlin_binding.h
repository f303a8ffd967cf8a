// Run-time binding of the Murlin decoder library.
//
// The library is loaded by its SONAME on first use, looking beside the
// running executable first (the build tree), then in the library folder of
// the install layout relative to it (an installed, possibly relocated,
// prefix), then on the system's library path; each of its functions is
// bound by its export name. Both the monitor and the headless
// tools go through this module, so they decode with the very same library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "murlin.h"

namespace varnak {

struct MurlinApi {
    int32_t (*RDSInit)();
    int32_t (*RDSBitFrame)(int32_t bit, int32_t invert);
    int32_t (*RDSBytFrame)(int32_t byte, int32_t invert);
    int32_t (*RDSStruct)(DecoderState* buffer);
    int32_t (*RDSStat)(int32_t n);
    int32_t (*RDSData)(int32_t n);
    const char* (*RDSDisplay)(int32_t n);
    const char* (*RDSPTYDesc)(int32_t n);
    const char* (*RDSDPDesc)(int32_t n);
    const char* (*RDSEVTDesc)(int32_t n);
    // Several decoders in one program (murlin.h).
    size_t (*RDSDecoderSize)();
    int32_t (*RDSDecoderInit)(void* storage, size_t size);
    void* (*RDSDecoderSelect)(void* storage);
};

// Loads the library on the first call and returns its bound functions, or
// nullptr when it cannot be loaded or an export is missing; *error (if given)
// then names the library and the reason. Later calls return the same result.
[[nodiscard]] const MurlinApi* murlin(std::string* error = nullptr);

// The library files tried before the system's library path, in order, for a
// program in `executableFolder`; none when that folder is unknown (empty).
std::vector<std::string> MurlinCandidates(const std::string& executableFolder);

// The block error rate from the decoder's counters: the blocks whose check
// failed without repair, of the blocks checked (the accepted ones and the
// failed ones; a repaired block counts as accepted).
struct BlockErrors {
    long long failed = 0;
    long long checked = 0;
    double percent() const { return checked > 0 ? 100.0 * double(failed) / double(checked) : 0.0; }
};
BlockErrors CountBlockErrors(const MurlinApi& api);

// Copies a library text into a string, at most 1024 characters up to the
// first zero byte; a null pointer gives the empty text.
std::string StrFromPtr(const char* text);

}  // namespace varnak
