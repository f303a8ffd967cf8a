// rdsgen: writes the RDS bit stream of a described station as bit text or
// hexadecimal text, or as the FM multiplex signal (mpx_output.h). The output
// is written completely or not at all.
#include "generator.h"
#include "options.h"
#include "output_file.h"
#include "rds_encoder.h"
#include "station.h"
#include "usage.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <iostream>

namespace {

int Fail(const std::string& message, int code)
{
    std::cerr << "rdsgen: " << message << "\n";
    return code;
}

// Writes the whole text to `path` ("-": standard output). A regular file
// appears only once complete; a device or a pipe is written in place.
bool WriteAll(const std::string& path, const std::string& text, std::string& error)
{
    varnak::OutputFile file;
    if (!file.create(path)) {
        error = file.error();
        return false;
    }
    if (std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size()) {
        (void)file.commit();  // flushes what it can and gives the reason
        error = file.error().empty() ? "cannot write " + file.name() : file.error();
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    rdsgen::CommandLine cl;
    try {
        cl = rdsgen::ParseCommandLine(app.arguments());
    } catch (const rdsgen::UsageError& e) {
        return varnak::UsageError("rdsgen", e.what());
    }
    if (cl.help) {
        std::cout << rdsgen::HelpText();
        return 0;
    }
    if (cl.version) {
        std::cout << "rdsgen " << VARNAK_VERSION << "\n";
        return 0;
    }

    // Writing over the description would lose it.
    if (cl.output != "-" && !cl.iq.enabled) {
        const QFileInfo in(QString::fromStdString(cl.description));
        const QFileInfo out(QString::fromStdString(cl.output));
        if (out.exists() && in.canonicalFilePath() == out.canonicalFilePath())
            return varnak::UsageError("rdsgen", cl.output + ": is the description file itself; choose another output");
    }
    if (const std::string problem = rdsgen::GroupListClash(cl); !problem.empty())
        return varnak::UsageError("rdsgen", problem);

    varnak::OutputFile::removeTemporaryOnSignals();
    if (cl.iq.enabled) {
        std::string error;
        if (!rdsgen::WriteIq(cl.iq, cl.stream, cl.output, error, cl.groupList)) return Fail(error, 1);
        return 0;
    }
    rdsgen::Station station;
    try {
        station = rdsgen::LoadStation(cl.description);
    } catch (const rdsgen::DescriptionError& e) {
        return Fail(e.what(), 1);
    }

    std::vector<rdsgen::GroupWords> groups;
    const std::string bits = rdsgen::GenerateBits(station, cl.stream, cl.groupList.empty() ? nullptr : &groups);
    std::string error;
    if (!cl.groupList.empty() && !WriteAll(cl.groupList, rdsgen::GroupListText(groups), error)) return Fail(error, 1);
    if (cl.mpx.enabled) {
        if (!cl.mpx.rds2Logo.empty()) {
            try {
                const double cycle = rdsgen::Rds2LogoCycleSeconds(cl.mpx.rds2Logo);
                if (double(bits.size()) / 1187.5 < cycle)
                    std::cerr << "rdsgen: warning: the signal is shorter than one cycle of the logo (" << cycle
                              << " s); a receiver cannot gather it whole\n";
            } catch (const std::exception& e) {
                return Fail(e.what(), 1);
            }
        }
        uint64_t clipped = 0;
        if (!rdsgen::WriteMpx(bits, cl.mpx, cl.stream.seed, cl.output, error, clipped)) return Fail(error, 1);
        if (clipped > 0) std::cerr << "rdsgen: " << clipped << " samples beyond full scale were clipped\n";
        return 0;
    }
    if (!WriteAll(cl.output, cl.hex ? rdsenc::BitsToHex(bits) : bits, error)) return Fail(error, 1);
    return 0;
}
