// varnakd's HTTP face on a thread of its own: the JSON API over the web
// sink and the station database, /metrics for Prometheus, the WebSocket
// /api/live (the live hub) on the same port, and the dashboard's static
// files. Read-only: GET is the one method answered.
//
// Bounded throughout: TCP connections at once, what a connection may send
// before it is answered, WebSocket clients and their queues (the hub), a
// client's messages (4 KiB), history ranges (31 days) and rows. With a
// token, /api/* and /metrics answer 401 without "Authorization: Bearer
// TOKEN" (the WebSocket also takes ?token=TOKEN: browsers cannot set its
// headers); the dashboard's files hold no station data and are served to
// anyone, so that a browser can load the page that asks for the token.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "config.h"
#include "web_sink.h"

namespace varnakd {

// The dashboard folder: the configured one, else the installed one, else
// the source tree's (a build run from its tree); "" when none exists.
std::string DashboardFolder(const WebConfig& config);

// The token of a token file: its first line, spaces around it dropped;
// false with `error` when unreadable, empty or shorter than 16 characters.
bool ReadToken(const std::string& path, std::string& token, std::string& error);

class WebServer {
public:
    WebServer(const ServiceConfig& config, WebSink& sink, std::string token, std::string dashboard);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Starts the web thread and listens; false with `error` when the
    // address cannot be bound.
    bool start(std::string& error);
    void stop();
    int port() const { return port_; }

private:
    class Thread;
    const ServiceConfig& config_;
    WebSink& sink_;
    std::string token_, dashboard_;
    std::unique_ptr<Thread> thread_;
    int port_ = 0;
};

}  // namespace varnakd
