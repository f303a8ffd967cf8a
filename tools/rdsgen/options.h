// The command line of rdsgen, checked into what the generator needs.
#pragma once

#include "generator.h"
#include "iq_output.h"
#include "mpx_output.h"

#include <QStringList>
#include <stdexcept>
#include <string>

namespace rdsgen {

// A bad command line; what() says which option and why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    bool help = false;
    bool version = false;
    std::string description;   // the station description file
    std::string output = "-";  // "-": standard output
    bool hex = false;
    StreamOptions stream;
    MpxOptions mpx;
    IqOptions iq;
    std::string groupList;  // also write the transmitted groups here
};

// args as main receives them, program name first.
CommandLine ParseCommandLine(const QStringList& args);

// The --help text: options and a summary of the description format.
std::string HelpText();

}  // namespace rdsgen
