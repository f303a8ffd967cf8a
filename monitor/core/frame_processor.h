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

#include "decode_log.h"
#include "murlin_binding.h"

namespace varnak {

// What a decoded group hands to the listener; valid during the call only.
struct DecodedGroup {
    std::string lines[4];     // the four display lines (RDSDisplay 0..3)
    DecoderState state;       // the decoder state record (RDSStruct)
    uint16_t blockWords[4];   // the information words of blocks A, B, C/C', D (RDSData)
};

// Receives the processor's events. Every method has an empty default.
class FrameListener {
public:
    virtual ~FrameListener() = default;
    // An automatic reset was reported; `inverted` is the polarity after the
    // polarity search has run (it may have flipped).
    virtual void onAutoReset(bool /*inverted*/) {}
    // A status word other than 0x1215 (after the polarity search).
    virtual void onStatus(uint16_t /*status*/) {}
    // A complete group, after its record was written to the decode log.
    virtual void onGroup(const DecodedGroup& /*group*/) {}
    // Called every `progressInterval` positions and once after the last one
    // (not after a stop): the place to refresh counters and let the event
    // loop run. `position` counts the characters of the text consumed so far,
    // `total` is the text's length at entry.
    virtual void onProgress(std::size_t /*position*/, std::size_t /*total*/) {}
};

// One processor per stream source. A run started from inside one of the
// listener calls of another (Stop and File clicked during a yield) takes
// over: when the listener call returns, the older run returns too, so it
// never goes on feeding its old text. The group record handed to the
// listener is reused, so it is valid during the call only.
class FrameProcessor {
public:
    explicit FrameProcessor(const MurlinApi& api);

    // Decodes `text`. fromFile true: one character per bit ("1" is a one
    // bit, any other character a zero bit). false: two hexadecimal characters
    // per byte (a last single character is read alone). The text is read
    // afresh at every position, so the caller may append to it from inside a
    // listener call; the number of positions is fixed at entry, and in hex
    // mode a position that lies beyond the current length is skipped. A pair
    // holding a character that is not hexadecimal is skipped too (counted in
    // skippedPairs()): nothing is fed for it and decoding goes on. The stop
    // flag is looked at after every feed and after every listener call:
    // once requestStop() was called, process() returns before the next bit.
    // Does not call RDSInit: the caller resets the decoder when a new stream
    // begins, so synchronisation carries over from one call to the next.
    void process(const std::string& text, bool fromFile);

    // A recording read piece by piece: beginStream(), feed() for every piece
    // in order, then endStream(). Positions count across the pieces, so the
    // result is the same whatever their sizes: in hex mode a digit pair split
    // between two pieces is joined, and a last single digit is fed alone by
    // endStream(). `total` is the expected number of characters, or 0 when it
    // is unknown (a pipe): onProgress() then reports a total of 0, as it does
    // once more characters came than expected. The last onProgress() call,
    // from endStream(), reports the number of characters fed as both position
    // and total. feed() returns false, and feeds nothing more, once a stop was
    // requested or another run began from a listener call; endStream() then
    // does nothing either.
    void beginStream(bool fromFile, std::uint64_t total = 0);
    bool feed(const char* data, std::size_t size);
    void endStream();

    // Characters of the stream consumed so far; during a listener call,
    // those up to the one that completed the reported block.
    std::uint64_t position() const { return streamPosition_; }

    // Hexadecimal pairs skipped because they were not hexadecimal.
    std::size_t skippedPairs() const { return skippedPairs_; }

    void setListener(FrameListener* listener) { listener_ = listener; }
    // The decode log that receives one record per group, or nullptr for none.
    void setLog(DecodeLog* log) { log_ = log; }

    bool inverted() const { return inverted_; }
    void setInverted(bool inverted) { inverted_ = inverted; }
    // Whether repeated automatic resets flip the polarity (on by default).
    // Off for streams rebuilt from group logs: their polarity is known, and
    // a long gap of lost blocks must not turn it over.
    void setPolaritySearch(bool on) { polaritySearch_ = on; }
    // Automatic resets seen since creation; saturates at 32767.
    int16_t resetCount() const { return resetCount_; }

    void requestStop() { stop_ = true; }
    void clearStop() { stop_ = false; }
    bool stopRequested() const { return stop_; }

    void setProgressInterval(std::size_t positions) { progressInterval_ = positions ? positions : 1; }

private:
    void handleStatus(uint16_t status);
    bool streamGoesOn() const { return !stop_ && run_ == streamRun_; }
    bool feedStreamByte(char high, char low, bool alone);
    bool streamProgress(std::size_t characters);
    void showGroup();

    const MurlinApi& api_;
    FrameListener* listener_ = nullptr;
    DecodeLog* log_ = nullptr;
    bool inverted_ = false;
    bool polaritySearch_ = true;
    bool stop_ = false;
    uint64_t run_ = 0;  // number of the newest run of process()
    int16_t resetCount_ = 0;
    std::size_t progressInterval_ = 4096;
    std::size_t skippedPairs_ = 0;
    DecodedGroup group_{};  // reused for every group: no allocation per group

    // The stream being fed.
    uint64_t streamRun_ = 0;
    bool streamFromFile_ = true;
    std::uint64_t streamPosition_ = 0, streamTotal_ = 0;
    std::size_t streamUntilProgress_ = 0;
    bool holding_ = false;  // hex: a first digit waits for its pair
    char held_ = 0;
};

}  // namespace varnak
