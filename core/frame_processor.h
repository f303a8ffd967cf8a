// The frame processing path: the one road from received text to the decoder
// library and from decoded groups to the decode log and the user interface.
//
// A FrameProcessor feeds text (one character per bit from a recording, or two
// hexadecimal characters per byte from a card) to Murlin, runs the polarity
// search on repeated automatic resets, writes one record per decoded group to
// the decode log and tells a listener what happened. It has no widgets: the
// monitor's window and the headless tools both drive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decode_log.h"
#include "murlin_binding.h"

namespace varnak {

// What a decoded group hands to the listener; valid during the call only.
struct DecodedGroup {
    std::string lines[4];    // the four display lines (RDSDisplay 0..3)
    DecoderState state;      // the decoder state record (RDSStruct)
    uint16_t blockWords[4];  // the information words of blocks A, B, C/C', D (RDSData)
};

// Receives the processor's events. Every method has an empty default. A
// listener call must not feed the processor that made it.
class FrameListener {
public:
    virtual ~FrameListener() = default;
    // An automatic reset was reported; `inverted` is the polarity after the
    // polarity search has run (it may have flipped).
    virtual void onAutoReset(bool /*inverted*/) {}
    // A status word other than 0x1215 (after the polarity search).
    virtual void onStatus(uint16_t /*status*/) {}
    // Instead of onStatus() for a block whose bits the demodulator marked
    // as sure (FrameProcessor::setSureMarks); by default onStatus().
    virtual void onSureStatus(uint16_t status) { onStatus(status); }
    // A complete group, after its record was written to the decode log.
    virtual void onGroup(const DecodedGroup& /*group*/) {}
};

// One processor per stream source: text is pushed in and every event is
// reported before the push returns. How much to push at a time, and when to
// let a user interface draw, is the caller's business. The group record
// handed to the listener is reused, so it is valid during the call only.
class FrameProcessor {
public:
    explicit FrameProcessor(const MurlinApi& api);

    // A recording read piece by piece: beginStream(), feed() for every piece
    // in order, then endStream(). fromFile true: one character per bit ("1"
    // is a one bit, any other character a zero bit). false: two hexadecimal
    // characters per byte; a digit pair split between two pieces is joined,
    // a last single digit is fed alone by endStream(), and a pair holding a
    // character that is not hexadecimal is skipped (counted in
    // skippedPairs()): nothing is fed for it and decoding goes on. Positions
    // count across the pieces, so the result is the same whatever their
    // sizes. Does not call RDSInit: the caller resets the decoder when a new
    // stream begins, so synchronisation carries over from one stream to the
    // next.
    void beginStream(bool fromFile);
    void feed(const char* data, std::size_t size);
    void endStream();

    // `text` as a stream of its own: beginStream(), feed(), endStream().
    void process(const std::string& text, bool fromFile);

    // Characters of the stream consumed so far; during a listener call, in
    // bit text those up to the one that completed the reported block, in
    // hexadecimal text those before the pair that completed it.
    std::uint64_t position() const { return streamPosition_; }

    // Hexadecimal pairs skipped because they were not hexadecimal.
    std::size_t skippedPairs() const { return skippedPairs_; }

    void setListener(FrameListener* listener) { listener_ = listener; }
    // The decode log that receives one record per group, or nullptr for none.
    void setLog(DecodeLog* log) { log_ = log; }

    // Bit text from the RDS demodulator may mark the bits of blocks it is
    // sure of as 'I' (one) and 'O' (zero) (RdsDemodulator::setMarkSure);
    // with this on they read as bits, and a block made of them only goes to
    // the listener's onSureStatus(). Off by default: in a bit file only '1'
    // is a one bit.
    void setSureMarks(bool on) { sureMarks_ = on; }

    bool inverted() const { return inverted_; }
    void setInverted(bool inverted) { inverted_ = inverted; }
    // Whether repeated automatic resets flip the polarity (on by default).
    // Off for streams rebuilt from group logs: their polarity is known, and
    // a long gap of lost blocks must not turn it over.
    void setPolaritySearch(bool on) { polaritySearch_ = on; }
    // Automatic resets seen since creation; saturates at 32767.
    int16_t resetCount() const { return resetCount_; }

    // Selects the processor's decoder in the library, if it has one of its
    // own, until the object goes; then what was selected before.
    class Selection {
    public:
        Selection(const Selection&) = delete;
        Selection& operator=(const Selection&) = delete;
        ~Selection();

    private:
        friend class FrameProcessor;
        Selection(const MurlinApi& api, void* decoder);
        const MurlinApi& api_;
        bool active_;
        void* before_ = nullptr;
    };
    // Gives the processor a decoder of its own, as after RDSInit with its
    // counters at zero, instead of the library's: for a program that decodes
    // several streams at once, one processor each. The processor selects it
    // for every feeding call (and so for its listener); anything else the
    // caller asks the library about this stream (RDSStruct, RDSStat,
    // RDSInit, ...) goes inside a select().
    void useOwnDecoder();
    [[nodiscard]] Selection select() const { return Selection(api_, decoder_.empty() ? nullptr : decoder_.data()); }

private:
    void handleStatus(uint16_t status, bool sure = false);
    void feedMarked(const char* data, std::size_t size);
    void feedStreamByte(char high, char low, bool alone);
    void showGroup();

    const MurlinApi& api_;
    // The decoder of its own (8-byte aligned), empty when it uses the library's.
    mutable std::vector<uint64_t> decoder_;
    FrameListener* listener_ = nullptr;
    DecodeLog* log_ = nullptr;
    bool inverted_ = false;
    bool polaritySearch_ = true;
    bool sureMarks_ = false;
    int sureRun_ = 0;  // marked bits in a row up to the one fed last
    int16_t resetCount_ = 0;
    std::size_t skippedPairs_ = 0;
    DecodedGroup group_{};  // reused for every group: no allocation per group

    // The stream being fed.
    bool streamFromFile_ = true;
    std::uint64_t streamPosition_ = 0;
    bool holding_ = false;  // hex: a first digit waits for its pair
    char held_ = 0;
};

}  // namespace varnak
