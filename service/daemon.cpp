#include "daemon.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "collector.h"
#include "log_sink.h"
#include "mqtt.h"
#include "murlin_binding.h"
#include "service.h"
#include "stop_signals.h"
#include "store.h"
#include "web_server.h"
#include "web_sink.h"
#include "webhook.h"

namespace varnakd {

int RunDaemon(QCoreApplication& app, const ServiceConfig& config, bool collect)
{
    varnak::StopSignals::install();
    varnak::StopSignals::setGraceful(true);
    std::string error;
    const varnak::MurlinApi* api = varnak::murlin(&error);
    if (!api) {
        std::fprintf(stderr, "varnakd: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<EventSink>> owned;
    owned.push_back(std::make_unique<LogSink>(stderr, config.logLevel));
    StationStore* store = nullptr;
    if (config.database != "none") {
        auto opened = std::make_unique<StationStore>(stderr);
        if (!opened->open(config, error)) {
            std::fprintf(stderr, "varnakd: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "varnakd: station database %s\n", opened->describe().c_str());
        store = opened.get();
        store->applyRetention(StationPipeline::WallClock());
        owned.push_back(std::move(opened));
    }
    QTimer retention;
    retention.setInterval(3600 * 1000);
    QObject::connect(&retention, &QTimer::timeout, &app, [store] {
        if (store) store->applyRetention(StationPipeline::WallClock());
    });
    retention.start();
    if (collect) {
        if (!store) {
            std::fprintf(stderr, "varnakd: --collect needs a database (database = none is set)\n");
            return 1;
        }
        Collector collector(config, *store, stderr);
        if (!collector.start(error)) {
            std::fprintf(stderr, "varnakd: %s\n", error.c_str());
            return 1;
        }
        QSocketNotifier stopNotifier(varnak::StopSignals::wakeDescriptor(), QSocketNotifier::Read);
        QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
            stopNotifier.setEnabled(false);
            std::fprintf(stderr, "varnakd: stopping; %llu messages stored\n",
                         static_cast<unsigned long long>(collector.stored()));
            app.quit();
        });
        return app.exec();
    }
    if (config.mqtt.enabled) {
        auto mqtt = std::make_unique<MqttSink>(config.mqtt, config.site, stderr);
        if (!mqtt->start(error)) {
            std::fprintf(stderr, "varnakd: %s\n", error.c_str());
            return 1;
        }
        // A moment for the broker, so that a run starts published; the
        // service goes on without it (and holds the alarm events).
        mqtt->waitConnected(1.0);
        owned.push_back(std::move(mqtt));
    }
    for (const WebhookConfig& w : config.webhooks) owned.push_back(std::make_unique<WebhookSink>(w, stderr));
    std::unique_ptr<WebServer> web;
    if (config.web.enabled) {
        std::string token;
        if (!config.web.tokenFile.empty() && !ReadToken(config.web.tokenFile, token, error)) {
            std::fprintf(stderr, "varnakd: %s\n", error.c_str());
            return 1;
        }
        auto sink = std::make_unique<WebSink>();
        const std::string dashboard = DashboardFolder(config.web);
        web = std::make_unique<WebServer>(config, *sink, token, dashboard);
        if (!web->start(error)) {
            std::fprintf(stderr, "varnakd: %s\n", error.c_str());
            return 1;
        }
        owned.push_back(std::move(sink));
        std::fprintf(stderr, "varnakd: web API on http://%s:%d/%s; dashboard %s\n", config.web.address.c_str(),
                     web->port(), token.empty() ? "" : " (token required)",
                     dashboard.empty() ? "not installed" : dashboard.c_str());
    }
    std::vector<EventSink*> sinks(owned.size());
    std::transform(owned.begin(), owned.end(), sinks.begin(), [](auto& sink) { return sink.get(); });

    Service service(config, *api, sinks);
    QObject::connect(&service, &Service::finished, &app, [&] {
        // With the web API the final picture stays served until varnakd is stopped.
        if (web)
            std::fprintf(stderr, "varnakd: every source has ended; the web API serves on until stopped\n");
        else
            app.exit(service.failed() ? 1 : 0);
    });
    QSocketNotifier stopNotifier(varnak::StopSignals::wakeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        stopNotifier.setEnabled(false);
        std::fprintf(stderr, "varnakd: stopping\n");
        service.stop();
        for (EventSink* sink : sinks) sink->flush();
        if (web) web->stop();
        app.exit(service.failed() ? 1 : 0);
    });
    std::fprintf(stderr, "varnakd: site %s, %zu source(s)\n", config.site.c_str(), config.sources.size());
    service.start();
    return app.exec();
}

}  // namespace varnakd
