/*
 * Murlin: the RDS (EN 50067) decoder library.
 *
 * One decoder lives in the library's static storage. Feed it a raw RDS bit
 * stream one bit (RDSBitFrame) or one byte (RDSBytFrame) at a time; every call
 * returns a status word telling what happened at that bit. After a call that
 * reports a complete group (sequence field 0) read back what you need with
 * RDSStruct, RDSDisplay, RDSData and RDSStat. Call RDSInit before the first
 * bit of every new stream.
 *
 * Status word (low 16 bits of the result):
 *   bits 15..12 sequence: 0 a group was just decoded, 1 otherwise
 *   bits 11..8  sync:     0 synchronised, 1 automatic reset, 2 searching, 3 lost
 *   bits  7..4  check:    0 correct, 1 no check at this bit, 2 repaired, 3 unrepairable
 *   bits  3..0  block:    1 A, 2 B, 3 C, 4 C', 0 D, 5 none
 * 0x1215 means that nothing happened at this bit.
 *
 * The library is not re-entrant: call it from one thread only. Returned text
 * pointers belong to the library; display lines change with the next feeding
 * call, descriptor texts never change.
 */
#ifndef MURLIN_H
#define MURLIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(MURLIN_BUILD)
#define MURLIN_API __attribute__((visibility("default")))
#else
#define MURLIN_API
#endif

/* The status word that means "nothing happened at this bit". */
#define MURLIN_STATUS_NONE 0x1215

/*
 * The decoder state record copied out by RDSStruct: 272 bytes, little-endian,
 * natural alignment. Text fields are zero-terminated; unfilled positions hold
 * spaces. Frequencies are in units of 100 kHz (875 = 87.5 MHz).
 */
typedef struct DecoderState {
    uint32_t groupsSeen;     /* bit n set once group code n (type*2+version) was seen */
    uint16_t pi;             /* programme identification (error-free block A only) */
    uint8_t groupType;       /* 0..15, of the last block B */
    uint8_t groupVersion;    /* 0 = A, 1 = B */
    uint8_t pty;             /* programme type 0..31 */
    uint8_t tp;              /* traffic programme 0/1 */
    uint8_t di[4];           /* d0 stereo, d1 artificial head, d2 compressed, d3 dynamic PTY; 0xFF = unknown */
    uint8_t ta;              /* traffic announcement 0/1 */
    uint8_t ms;              /* music/speech 0/1 */
    char ps[9];              /* programme-service name */
    uint8_t afCount;         /* alternative frequencies announced, 0..25 */
    uint16_t afList[25];     /* alternative frequencies, 0 = none */
    uint8_t rpc;             /* radio paging codes, 5 bits */
    uint8_t reserved77;      /* never written */
    uint16_t slc;            /* slow labelling: LA bit 15, variant 14..12, data 11..0 */
    uint16_t pin;            /* programme-item number: day 15..11, hour 10..6, minute 5..0 */
    uint8_t textAB;          /* radiotext A/B flag last received */
    char radioText[65];      /* radiotext of version A groups */
    char radioTextB[33];     /* radiotext of version B groups */
    uint8_t reserved181;     /* never written */
    uint8_t odaGroupType;    /* open data application: carrying group type 0..15 */
    uint8_t odaGroupVersion; /* its version, 0 = A, 1 = B */
    uint16_t odaMessage;     /* block C of group 3A */
    uint16_t odaAid;         /* application identification, block D of group 3A */
    uint16_t year;           /* clock time (UTC), four-digit year */
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    int16_t localOffset; /* local offset in tenths of an hour */
    char clockText[25];  /* e.g. "2008/02/25 15:51TU +1.0" */
    uint8_t reserved221; /* never written */
    uint8_t tmcT;        /* TMC user message (group 8A) */
    uint8_t tmcF;
    uint8_t tmcDP;        /* duration and persistence 0..7 */
    uint8_t tmcD;         /* diversion bit */
    uint8_t tmcPN;        /* direction bit */
    uint8_t tmcExtent;    /* extent 0..7 */
    uint16_t tmcEvent;    /* event code 0..2047 */
    uint16_t tmcLocation; /* location code */
    uint16_t eonPi;       /* enhanced other networks: PI of the other network */
    uint8_t eonPty;
    uint8_t eonTp;
    uint8_t eonTa;
    char eonPs[9];
    uint16_t eonPin;
    uint16_t eonAf1;
    uint16_t eonAf2;
    uint16_t eonTuned[5];  /* tuned frequencies of the mapped pairs */
    uint16_t eonMapped[5]; /* mapped frequencies; entry 4 may be LF/MF in 0.1 kHz */
} DecoderState;

/* Reset the decoder: searching, decoded data cleared. Counters are kept. */
MURLIN_API int32_t RDSInit(void);
/* Feed one bit (nonzero = 1); nonzero invert flips it. Both arguments are
 * 8-bit values: only their low 8 bits count. Returns the status word. */
MURLIN_API int32_t RDSBitFrame(int32_t bit, int32_t invert);
/* Feed one byte (the low 8 bits of byte), most significant bit first. Stops at
 * the first bit with an event and keeps the rest pending for the next call.
 * Returns that status word, or 0x1215 if all pending bits were fed without an
 * event. An automatic reset empties the queue (the rest of the byte is dropped). */
MURLIN_API int32_t RDSBytFrame(int32_t byte, int32_t invert);
/* Copy the 272-byte DecoderState into buffer. Returns 0. */
MURLIN_API int32_t RDSStruct(DecoderState* buffer);
/* n = 0 blocks accepted, 1 check failures, 2 blocks repaired; any other n clears all three and returns 0. */
MURLIN_API int32_t RDSStat(int32_t n);
/* Information word of block n (0 A, 1 B, 2 C/C', 3 D) last stored; 0 for any other n. */
MURLIN_API int32_t RDSData(int32_t n);
/* Display line of block n (0..3); null for any other n. */
MURLIN_API const char* RDSDisplay(int32_t n);
/* Programme type text for 0..31, else null. */
MURLIN_API const char* RDSPTYDesc(int32_t n);
/* TMC duration/persistence text for 0..7, else null. */
MURLIN_API const char* RDSDPDesc(int32_t n);
/* TMC event phrase (ALERT-C), or null for codes outside the table. */
MURLIN_API const char* RDSEVTDesc(int32_t n);

/*
 * Several decoders in one program, one per stream (a band of stations, several
 * sources). Every function above works on the selected decoder; the library's
 * own one is selected at load, so a program that decodes one stream needs none
 * of this. The library allocates nothing: the program gives each decoder its
 * storage, RDSDecoderSize() bytes aligned to 8, initialises it once, selects it
 * before feeding that stream's bits and reading its results, and frees it
 * after selecting another. Selecting costs one pointer store. The selection
 * belongs to the library, not to a thread: the one-thread rule above holds for
 * all decoders together.
 */
#define MURLIN_DECODER_ALIGN 8
/* Bytes of storage one decoder needs. */
MURLIN_API size_t RDSDecoderSize(void);
/* Makes `storage` a decoder as after RDSInit, with its counters at zero; does
 * not select it. Returns 0, or -1 (nothing written) when storage is null,
 * size is below RDSDecoderSize() or storage is not aligned to 8. */
MURLIN_API int32_t RDSDecoderInit(void* storage, size_t size);
/* Selects the decoder in `storage` (initialised by RDSDecoderInit); null
 * selects the library's own. Returns the storage selected before, null for the
 * library's own. */
MURLIN_API void* RDSDecoderSelect(void* storage);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The record layout is part of the binary interface: pin it down. */
#ifdef __cplusplus
#define MURLIN_STATIC_ASSERT static_assert
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define MURLIN_STATIC_ASSERT _Static_assert
#else
/* C99 has no static assertion: an array of negative size fails instead. */
#define MURLIN_STATIC_ASSERT(condition, name) MURLIN_STATIC_ASSERT_AT(condition, __LINE__)
#define MURLIN_STATIC_ASSERT_AT(condition, line) MURLIN_STATIC_ASSERT_LINE(condition, line)
#define MURLIN_STATIC_ASSERT_LINE(condition, line) typedef char murlin_layout_check_##line[(condition) ? 1 : -1]
#endif
MURLIN_STATIC_ASSERT(sizeof(DecoderState) == 272, "DecoderState must be 272 bytes");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, groupsSeen) == 0, "groupsSeen");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, pi) == 4, "pi");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, groupType) == 6, "groupType");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, groupVersion) == 7, "groupVersion");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, pty) == 8, "pty");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tp) == 9, "tp");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, di) == 10, "di");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, ta) == 14, "ta");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, ms) == 15, "ms");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, ps) == 16, "ps");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, afCount) == 25, "afCount");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, afList) == 26, "afList");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, rpc) == 76, "rpc");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, reserved77) == 77, "reserved77");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, slc) == 78, "slc");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, pin) == 80, "pin");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, textAB) == 82, "textAB");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, radioText) == 83, "radioText");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, radioTextB) == 148, "radioTextB");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, reserved181) == 181, "reserved181");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, odaGroupType) == 182, "odaGroupType");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, odaGroupVersion) == 183, "odaGroupVersion");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, odaMessage) == 184, "odaMessage");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, odaAid) == 186, "odaAid");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, year) == 188, "year");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, month) == 190, "month");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, day) == 191, "day");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, hour) == 192, "hour");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, minute) == 193, "minute");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, localOffset) == 194, "localOffset");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, clockText) == 196, "clockText");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, reserved221) == 221, "reserved221");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcT) == 222, "tmcT");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcF) == 223, "tmcF");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcDP) == 224, "tmcDP");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcD) == 225, "tmcD");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcPN) == 226, "tmcPN");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcExtent) == 227, "tmcExtent");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcEvent) == 228, "tmcEvent");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, tmcLocation) == 230, "tmcLocation");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonPi) == 232, "eonPi");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonPty) == 234, "eonPty");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonTp) == 235, "eonTp");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonTa) == 236, "eonTa");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonPs) == 237, "eonPs");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonPin) == 246, "eonPin");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonAf1) == 248, "eonAf1");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonAf2) == 250, "eonAf2");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonTuned) == 252, "eonTuned");
MURLIN_STATIC_ASSERT(offsetof(DecoderState, eonMapped) == 262, "eonMapped");

#endif /* MURLIN_H */
