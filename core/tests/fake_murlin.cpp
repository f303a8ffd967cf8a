#include "fake_murlin.h"

#include <cstring>

namespace fakemurlin {

std::vector<Call> calls;
std::function<uint16_t(std::size_t)> script;
int readBacks = 0;

namespace {

int32_t Feed(bool byte, int32_t value, int32_t invert)
{
    calls.push_back({byte, value, invert});
    return script ? script(calls.size() - 1) : MURLIN_STATUS_NONE;
}
int32_t Init() { return 0; }
int32_t Bit(int32_t bit, int32_t invert) { return Feed(false, bit, invert); }
int32_t Byt(int32_t byte, int32_t invert) { return Feed(true, byte, invert); }
int32_t Struct(DecoderState* s)
{
    ++readBacks;
    std::memset(s, 0, sizeof *s);
    s->pi = 0xBEEF;
    return 0;
}
int32_t Stat(int32_t) { return 0; }
int32_t Data(int32_t n)
{
    ++readBacks;
    return 0x100 + n;
}
const char* Display(int32_t n)
{
    ++readBacks;
    static const char* const lines[4] = {"line A", "line B", "line C", "line D"};
    return n >= 0 && n < 4 ? lines[n] : nullptr;
}
const char* Text(int32_t) { return nullptr; }
// One decoder only: the extra decoders are never used by the fakes' tests.
size_t DecoderSize() { return 8; }
int32_t DecoderInit(void*, size_t) { return 0; }
void* DecoderSelect(void*) { return nullptr; }

}  // namespace

void Reset()
{
    calls.clear();
    script = nullptr;
    readBacks = 0;
}

const varnak::MurlinApi& Api()
{
    static const varnak::MurlinApi api{Init, Bit,  Byt,  Struct,      Stat,        Data,         Display,
                                       Text, Text, Text, DecoderSize, DecoderInit, DecoderSelect};
    return api;
}

}  // namespace fakemurlin
