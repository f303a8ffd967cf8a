// Runs the service (or the collector) with a checked configuration until
// its sources end or a signal (SIGTERM, SIGINT, SIGHUP) stops it.
#pragma once

#include <QCoreApplication>

#include "config.h"

namespace varnakd {

int RunDaemon(QCoreApplication& app, const ServiceConfig& config, bool collect);

}  // namespace varnakd
