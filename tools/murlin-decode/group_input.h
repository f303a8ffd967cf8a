// Group logs as input: each group of the log becomes the 104 bits an RDS
// encoder would have sent (a block not received as one that fails its
// check), fed to the frame processor, so that the decode log, the JSON and
// the statistics are what the original signal would have given. The log is
// read piece by piece and cut into bounded lines: memory stays small
// whatever the size of the file.
#pragma once

#include <cstdint>
#include <string>

#include "frame_processor.h"
#include "group_log.h"
#include "group_output.h"
#include "input_file.h"

namespace murlindecode {

// Reads the group log `in` to its end. False with `error` set when it is
// not a group log (judged by its head), is empty or cannot be read.
// Malformed lines are skipped and counted in `parser`.
bool FeedGroupLog(varnak::InputFile& in, varnak::FrameProcessor& processor, GroupOutput& output,
                  rdsformats::GroupLogParser& parser, std::string& error);

}  // namespace murlindecode
