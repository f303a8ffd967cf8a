// murlin-decode --rds2: what becomes of the groups of RDS2's extra data
// streams. With --json each goes out as a JSON line tagged with its stream
// ({"stream":1,"group":"C",...}); the RDS file transfer is gathered across
// the streams, and with --save-files DIR every file whose size and CRC check
// is written there (under a temporary name, renamed once complete). A file
// that does not check is never written.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "rds2_receiver.h"
#include "rft.h"

namespace murlindecode {

class Rds2Output {
public:
    // `json`: the stream for JSON lines, or nullptr for none. `saveDir`:
    // where complete files go, or empty for nowhere.
    Rds2Output(std::FILE* json, std::string saveDir) : json_(json), saveDir_(std::move(saveDir)) {}

    void onGroup(int stream, const varnak::radio::Rds2Receiver::Group& words);

    // The summary lines: groups per stream, files received and saved.
    std::string summary(const std::vector<varnak::radio::Rds2Receiver::StreamReport>& streams) const;

    bool failed() const { return !error_.empty(); }
    // The first error (a file that could not be saved, a JSON write).
    const std::string& error() const { return error_; }
    const std::vector<std::string>& saved() const { return saved_; }

private:
    void save(const rdsformats::RftReceivedFile& file);
    void write(const std::string& text);

    std::FILE* json_;
    std::string saveDir_;
    rdsformats::RftReceiver rft_;
    std::vector<std::string> saved_;
    int files_ = 0;
    std::string line_;
    std::string error_;
};

// The name a received file is saved under: "logo-v1-0.png" for the
// station logo (version 1, file id 0), "rft3-ABCD-v1-0.bin" for another
// application on pipe 3.
std::string ReceivedFileName(const rdsformats::RftReceivedFile& file);

}  // namespace murlindecode
