// Webhooks: every raised or cleared alarm is POSTed as its JSON object to
// each configured URL, from a worker thread of the sink's own. A failed
// delivery (no connection, an HTTP status outside 2xx) is tried again after
// `backoff` seconds, doubled after each failure, up to `retries` times; the
// result is logged. The queue is bounded: when full the oldest event is
// dropped and counted.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "config.h"
#include "events.h"

namespace varnakd {

class WebhookSink : public EventSink {
public:
    static constexpr std::size_t kQueueLimit = 1000;

    WebhookSink(WebhookConfig config, std::FILE* log);
    ~WebhookSink() override;

    void alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& active) override;
    // Waits until the queue is delivered or given up.
    void flush() override;

    uint64_t delivered() const;
    uint64_t failed() const;
    uint64_t dropped() const;

private:
    void run();
    // One POST; an empty string when the receiver took it, else why not.
    std::string post(const std::string& body);

    WebhookConfig config_;
    std::FILE* log_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<std::string> queue_;
    bool busy_ = false, stop_ = false;
    uint64_t delivered_ = 0, failed_ = 0, dropped_ = 0;
    std::thread thread_;
};

}  // namespace varnakd
