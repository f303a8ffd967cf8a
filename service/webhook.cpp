#include "webhook.h"

#include <curl/curl.h>

#include <chrono>

namespace varnakd {
namespace {

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// The URL as it may appear in the log: without user and password.
std::string Shown(const std::string& url)
{
    const auto scheme = url.find("://");
    const auto at = url.find('@');
    const auto slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (scheme == std::string::npos || at == std::string::npos || (slash != std::string::npos && at > slash))
        return url;
    return url.substr(0, scheme + 3) + url.substr(at + 1);
}

}  // namespace

WebhookSink::WebhookSink(WebhookConfig config, std::FILE* log) : config_(std::move(config)), log_(log)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    thread_ = std::thread([this] { run(); });
}

WebhookSink::~WebhookSink()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void WebhookSink::alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& /*active*/)
{
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kQueueLimit) {
            queue_.pop_front();
            ++dropped_;
        }
        queue_.push_back(AlarmEventJson(event));
    }
    wake_.notify_one();
}

void WebhookSink::flush()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

uint64_t WebhookSink::delivered() const
{
    std::lock_guard lock(mutex_);
    return delivered_;
}
uint64_t WebhookSink::failed() const
{
    std::lock_guard lock(mutex_);
    return failed_;
}
uint64_t WebhookSink::dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::string WebhookSink::post(const std::string& body)
{
    CURL* curl = curl_easy_init();
    if (!curl) return "cannot start a transfer";
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, config_.url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(config_.timeout * 1000));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) return curl_easy_strerror(code);
    if (status < 200 || status > 299) return "HTTP status " + std::to_string(status);
    return {};
}

void WebhookSink::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping with nothing left
        const std::string body = queue_.front();
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        std::string error;
        double wait = config_.backoff;
        int attempt = 0;
        for (;; ++attempt) {
            error = post(body);
            if (error.empty() || attempt >= config_.retries) break;
            std::fprintf(log_, "varnakd: webhook %s: %s; trying again in %.1f s\n", Shown(config_.url).c_str(),
                         error.c_str(), wait);
            std::unique_lock pause(mutex_);
            if (wake_.wait_for(pause, std::chrono::duration<double>(wait), [this] { return stop_; })) break;
            wait *= 2;
        }
        if (error.empty())
            std::fprintf(log_, "varnakd: webhook %s: delivered%s\n", Shown(config_.url).c_str(),
                         attempt ? (" after " + std::to_string(attempt) + " retries").c_str() : "");
        else
            std::fprintf(log_, "varnakd: webhook %s: gave up: %s\n", Shown(config_.url).c_str(), error.c_str());
        lock.lock();
        ++(error.empty() ? delivered_ : failed_);
        busy_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
}

}  // namespace varnakd
