// rdsgen: writes the RDS bit stream of a described station as bit text or
// hexadecimal text. The output is written completely or not at all.
#include "generator.h"
#include "options.h"
#include "rds_encoder.h"
#include "station.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <iostream>

namespace {

int Fail(const std::string& message, int code)
{
    std::cerr << "rdsgen: " << message << "\n";
    return code;
}

bool WriteAll(const std::string& path, const std::string& text, std::string& error)
{
    if (path == "-") {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
            error = "cannot write to standard output";
            return false;
        }
        return true;
    }
    // QSaveFile writes beside the target and renames it into place on commit.
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = path + ": " + file.errorString().toStdString();
        return false;
    }
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit()) {
        error = path + ": " + file.errorString().toStdString();
        file.cancelWriting();
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
        return Fail(std::string(e.what()) + " (rdsgen --help lists the options)", 2);
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
    if (cl.output != "-") {
        const QFileInfo in(QString::fromStdString(cl.description));
        const QFileInfo out(QString::fromStdString(cl.output));
        if (out.exists() && in.canonicalFilePath() == out.canonicalFilePath())
            return Fail(cl.output + ": is the description file itself; choose another output", 2);
    }
    if (const std::string problem = rdsgen::GroupListClash(cl); !problem.empty()) return Fail(problem, 2);

    rdsgen::Station station;
    try {
        station = rdsgen::LoadStation(cl.description);
    } catch (const rdsgen::DescriptionError& e) {
        return Fail(e.what(), 1);
    }

    std::vector<rdsgen::GroupWords> groups;
    const std::string bits = rdsgen::GenerateBits(station, cl.stream, cl.groupList.empty() ? nullptr : &groups);
    std::string error;
    if (!cl.groupList.empty() && !WriteAll(cl.groupList, rdsgen::GroupListText(groups), error))
        return Fail(error, 1);
    if (cl.mpx.enabled) {
        uint64_t clipped = 0;
        if (!rdsgen::WriteMpx(bits, cl.mpx, cl.stream.seed, cl.output, error, clipped)) return Fail(error, 1);
        if (clipped > 0)
            std::cerr << "rdsgen: " << clipped << " samples beyond full scale were clipped\n";
        return 0;
    }
    if (!WriteAll(cl.output, cl.hex ? rdsenc::BitsToHex(bits) : bits, error)) return Fail(error, 1);
    return 0;
}
