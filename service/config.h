// The service's configuration, read from one INI file and checked whole
// before anything starts: every problem is reported with its line.
//
//   [service]   site, state (folder), database, retention
//   [mqtt]      broker, topic prefix, client id, user, password file, TLS
//   [webhook NAME]  url, retries, backoff
//   [source NAME]   kind (mpx, bits, hex, grouplog, card, band), path, ...
//   [station KEY]   the profile of the station a source receives: KEY is
//                   its frequency or the source's name
//   [collect]   what `varnakd --collect` subscribes to
//   [web]       the HTTP/WebSocket API and the dashboard: listen address,
//               token file, dashboard folder, bounds
#pragma once

#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ini_file.h"

namespace varnakd {

struct SourceConfig {
    std::string name;                 // the section's name
    std::string kind;                 // mpx, bits, hex, grouplog, card, band
    std::string path;                 // file, FIFO or "-" (mpx, bits, hex, grouplog)
    std::optional<double> rate;       // mpx: raw s16le at this rate (else an audio file)
    std::optional<double> frequency;  // MHz: names the station
    std::string host = "127.0.0.1";   // card: the card server
    int port = 0;
    int card = 1;        // card: its number on the server,
    std::string serial;  // or its serial number
    int input = 3;       // card: the IF input (1 to 6)
    // mpx: the deviation full scale stands for, when the multiplex is
    // calibrated (rdsgen's is 75 kHz); then deviation and MPX power are measured.
    std::optional<double> fullScaleKHz;
    double realtime = 0;           // recordings: read at this many times real time (0: as fast as decoding goes)
    bool live = false;             // wall-clock times; else times from the position
    std::optional<int64_t> start;  // recordings: UTC time of the first bit, 1/100 s
    double retry = 5;              // seconds before a failed live source is opened again
    std::map<std::string, std::string> options;  // everything for kinds added later (band)
    int line = 0;
    // The name its stations carry: the frequency ("98.5") or the section's name.
    std::string stationName() const;
};

struct StationProfile {
    std::string key;  // "98.5" or a source's name
    std::optional<uint16_t> pi;
    std::vector<std::string> ps;           // allowed PS texts (trailing spaces ignored)
    std::optional<std::string> psPattern;  // or a pattern (ECMAScript) for dynamic PS
    std::optional<int> pty;
    std::optional<bool> tp;
    std::set<int> af;                                        // kHz
    double rdsLost = 10;                                     // s without a valid group
    std::optional<double> taMax;                             // s of TA on
    std::optional<double> clockOffset;                       // s
    std::optional<double> blockErrorRate;                    // fraction over a minute
    std::optional<double> rdsInjectionMin, rdsInjectionMax;  // kHz
    bool pilot = false;                                      // a 19 kHz pilot is expected (multiplex sources)
    // Band (and calibrated multiplex) sources:
    double carrierLost = 10;              // s: the carrier gone or under min-level this long
    std::optional<double> minLevel;       // dBFS
    std::optional<double> maxDeviation;   // kHz, peak
    double deviationTolerance = 0;        // kHz over max-deviation still accepted
    std::optional<double> maxMpxPower;    // dBr over 60 s
    double raiseHold = 0, clearHold = 0;  // s
    int line = 0;
};

struct MqttConfig {
    bool enabled = false;
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string prefix = "varnak";
    std::string clientId;
    std::string user, passwordFile;
    std::string tlsCaFile, tlsCertFile, tlsKeyFile;
    bool groups = false;
    int queue = 1000;  // alarm events held while the broker is away
    int keepalive = 30;
};

struct WebhookConfig {
    std::string name, url;
    int retries = 5;
    double backoff = 1;  // s, doubled after every failure
    double timeout = 10;
};

struct CollectConfig {
    bool present = false;
    std::string topic = "varnak/+/+/#";
};

// The HTTP/WebSocket API. Loopback unless configured otherwise, and then
// only with a bearer token read from a file.
struct WebConfig {
    bool enabled = false;
    std::string address = "127.0.0.1";
    int port = 8080;
    std::string tokenFile;
    std::string dashboard;      // "" = the installed folder (or the source tree's, in a build)
    int clients = 256;          // WebSocket clients at once
    int connections = 512;      // TCP connections at once, WebSocket clients included
    int clientQueueKib = 1024;  // what a WebSocket client may have waiting before it is dropped
    int requestKib = 64;        // what a connection may send before it is answered
    int line = 0;
};

struct ServiceConfig {
    std::string site = "site";
    std::string stateDir = "/var/lib/varnakd";
    std::string database;  // "" = SQLite file under stateDir, "none", a path, or postgresql://...
    int retentionDays = 365;
    int qualityRetentionDays = 90;
    std::string logLevel = "info";
    MqttConfig mqtt;
    std::vector<WebhookConfig> webhooks;
    std::vector<SourceConfig> sources;
    std::vector<StationProfile> stations;
    CollectConfig collect;
    WebConfig web;
};

struct ConfigProblem {
    int line = 0;
    std::string message;
};

// Source kinds the configuration accepts; the band kind is accepted by the
// reader and refused at the check when no band receiver is built in.
bool KnownSourceKind(const std::string& kind);

// Reads `text`; every problem found goes to `problems` (with its line), and
// the configuration is only to be used when there are none. `collect`: the
// file is read for `varnakd --collect` (a [collect] section, no sources).
ServiceConfig ParseConfig(const std::string& text, std::vector<ConfigProblem>& problems, bool collect = false);

// Whether `address` (an IP address or "localhost") is a loopback address.
bool IsLoopbackAddress(const std::string& address);

// "2026-12-08T19:55:57Z" (or with a space, without Z: UTC) to 1/100 s.
std::optional<int64_t> ParseUtcTime(const std::string& text);

}  // namespace varnakd
