#pragma once

#include "httprequest.h"

#include "chartscale.h"

#include <QByteArray>

// Which answer a request gets: the page's files, the data of the box and the
// run, or an error. Only the fixed paths below are ever answered; a path is
// compared whole, never looked up anywhere.
namespace monitor {

enum class Route
{
    Page,         // /
    Script,       // /monitor.js
    Style,        // /monitor.css
    ChartLibrary, // /chart.js
    Status,       // /api/status
    History,      // /api/history?span=10m|1h|run
    Events,       // /events
    Metrics,      // /metrics
    ExportCsv,    // /export.csv
};

// The cookie that holds the access key once it was given in the address.
constexpr char kKeyCookie[] = "baroterm_key";

struct Routed
{
    int status = 200; // 200, or the error to answer
    Route route = Route::Page;
    bool head = false; // HEAD: the same headers, no body
    chartscale::Span span = chartscale::Span::TenMinutes;
    // The right key came as ?key=: it goes back as a cookie, and the page's
    // address loses it through a redirect.
    bool keyInQuery = false;
};

// `key` empty: no key is asked, which is only done on a loopback address; then
// only a Host naming the loopback is answered (421 otherwise), so a page from
// elsewhere cannot reach the monitor through a name of its own that resolves
// to this machine.
Routed route(const Request& request, const QByteArray& key);

// The same bytes, in a time that depends on the key's length alone.
bool sameKey(const QByteArray& given, const QByteArray& key);

// %XX decoded, and '+' as a space when `plusIsSpace`; false on a broken escape.
bool percentDecode(const QByteArray& text, bool plusIsSpace, QByteArray* out);

// The head of an answer: status line, the headers every answer carries
// (Content-Security-Policy, nosniff, no caching, no referrer), then `extra`
// (whole lines, each ending in CR LF). `contentLength` -1: none, the body
// runs until the connection closes.
QByteArray responseHead(int status, const QByteArray& contentType, qint64 contentLength,
                        bool keepAlive, const QByteArray& extra = QByteArray());
// An error's whole answer: its head and its reason as text (none for 401).
QByteArray errorResponse(int status, bool keepAlive, bool head = false);
const char* reasonPhrase(int status);

} // namespace monitor
