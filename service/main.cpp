// varnakd: watches RDS stations unattended. Reads one configuration file,
// runs in the foreground and logs to standard error.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "config.h"
#include "daemon.h"

namespace {

void Usage(std::FILE* to)
{
    std::fputs(
        "Usage: varnakd --config FILE\n"
        "       varnakd --check-config FILE\n"
        "       varnakd --collect --config FILE\n"
        "Watches RDS stations unattended: decodes every configured source, raises\n"
        "alarms against the station profiles and delivers states and alarms to the\n"
        "log, MQTT, webhooks and the station database, and over HTTP ([web]: a JSON\n"
        "API, Prometheus metrics, live events and a dashboard).\n\n"
        "Options:\n"
        "  --config FILE        run with the configuration FILE\n"
        "  --check-config FILE  check FILE, print each problem with its line (exit 2)\n"
        "  --collect            subscribe to the sites' MQTT topics and store them\n"
        "  -h, --help           show this help\n"
        "  -V, --version        show the version\n",
        to);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string configPath;
    bool check = false, collect = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--config" || arg == "--check-config") && i + 1 >= argc) {
            std::fprintf(stderr, "varnakd: option '%s' needs a file\nTry 'varnakd --help'.\n", arg.c_str());
            return 2;
        }
        if (arg == "--config" || arg == "--check-config") {
            check = check || arg == "--check-config";
            configPath = argv[++i];
        } else if (arg == "--collect") {
            collect = true;
        } else if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return 0;
        } else if (arg == "-V" || arg == "--version") {
            std::printf("varnakd %s\n", VARNAK_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "varnakd: unknown option '%s'\nTry 'varnakd --help'.\n", arg.c_str());
            return 2;
        }
    }
    if (configPath.empty()) {
        std::fprintf(stderr, "varnakd: no configuration: give --config FILE\nTry 'varnakd --help'.\n");
        return 2;
    }
    std::ifstream in(configPath);
    if (!in) {
        std::fprintf(stderr, "varnakd: cannot read %s\n", configPath.c_str());
        return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<varnakd::ConfigProblem> problems;
    const varnakd::ServiceConfig config = varnakd::ParseConfig(text.str(), problems, collect);
    for (const auto& p : problems) {
        if (p.line)
            std::fprintf(stderr, "%s:%d: %s\n", configPath.c_str(), p.line, p.message.c_str());
        else
            std::fprintf(stderr, "%s: %s\n", configPath.c_str(), p.message.c_str());
    }
    if (!problems.empty()) return 2;
    if (check) return 0;

    QCoreApplication app(argc, argv);
    return varnakd::RunDaemon(app, config, collect);
}
