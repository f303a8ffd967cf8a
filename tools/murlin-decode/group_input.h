// Group logs as input: each group of the log becomes the 104 bits an RDS
// encoder would have sent (a block not received as one that fails its
// check), fed to the frame processor, so that the decode log, the JSON and
// the statistics are what the original signal would have given. The log is
// read in chunks and cut into bounded lines: memory stays small whatever
// the size of the file.
#pragma once

#include <cstdio>
#include <string>

#include "frame_processor.h"
#include "group_log.h"
#include "group_output.h"

namespace murlindecode {

// Reads the group log `in` to its end. False with `error` set when it is
// not a group log (judged by its first chunk) or cannot be read. Malformed
// lines are skipped and counted in `parser`. `bytes` receives the bytes read.
bool FeedGroupLog(std::FILE* in, varnak::FrameProcessor& processor, GroupOutput& output,
                  rdsformats::GroupLogParser& parser, std::size_t& bytes, std::string& error);

}  // namespace murlindecode
