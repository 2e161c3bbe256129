// The monitor's side of a connection: requests read from the bytes as they
// come, one after another, each routed without a key and with one.
// Input: one plan byte for the read sizes, then the bytes of the connection.
#include "fuzzsupport.h"
#include "httprequest.h"
#include "router.h"

#include <QStringList>

namespace {

// Small limits, so short inputs reach them too.
monitor::ParserLimits limits()
{
    monitor::ParserLimits l;
    l.requestLineBytes = 256;
    l.headerBytes = 512;
    l.headerLines = 8;
    return l;
}

const QByteArray kKey = "0123456789abcdef0123456789abcdef";
const QList<QByteArray> kPaths = {"/",         "/monitor.js", "/monitor.css",
                                  "/chart.js", "/api/status", "/api/history",
                                  "/events",   "/metrics",    "/export.csv"};

struct Outcome
{
    QList<QByteArray> requests; // method and target of each, in order
    int failure = 0;
    bool operator==(const Outcome& o) const
    {
        return requests == o.requests && failure == o.failure;
    }
};

void checkRequest(const monitor::Request& r)
{
    FUZZ_CHECK(!r.method.isEmpty() && !r.target.isEmpty());
    for (const char c : r.target)
        FUZZ_CHECK(uchar(c) > 0x20 && uchar(c) < 0x7f);
    for (const monitor::Header& h : r.headers) {
        FUZZ_CHECK(!h.name.isEmpty() && h.name == h.name.toLower());
        FUZZ_CHECK(!h.value.contains('\r') && !h.value.contains('\n') && !h.value.contains('\0'));
        FUZZ_CHECK(!h.value.startsWith(' ') && !h.value.endsWith(' '));
    }
    FUZZ_CHECK(int(r.headers.size()) <= limits().headerLines);
}

// Whatever is answered with 200 is one of the fixed paths and a GET or HEAD;
// with a key, the key was in the request.
void checkRoute(const monitor::Request& r, const QByteArray& key)
{
    const monitor::Routed routed = monitor::route(r, key);
    static const QList<int> statuses = {200, 400, 401, 404, 405, 421};
    FUZZ_CHECK(statuses.contains(routed.status));
    const QByteArray head = monitor::errorResponse(routed.status, true);
    FUZZ_CHECK(head.contains("\r\nContent-Security-Policy: default-src 'self'\r\n"));
    if (routed.status != 200)
        return;
    FUZZ_CHECK(r.method == "GET" || r.method == "HEAD");
    const int mark = r.target.indexOf('?');
    QByteArray path;
    FUZZ_CHECK(monitor::percentDecode(mark < 0 ? r.target : r.target.left(mark), false, &path));
    FUZZ_CHECK(kPaths.contains(path));
    if (!key.isEmpty()) {
        bool present = false;
        for (const monitor::Header& h : r.headers)
            present = present || h.value.contains(key);
        FUZZ_CHECK(present || r.target.contains(key) || r.target.contains('%'));
    }
}

Outcome readAll(const QByteArray& stream, quint8 plan)
{
    Outcome out;
    monitor::RequestParser parser(limits());
    const monitor::ParserLimits l = limits();
    const int most = l.requestLineBytes + l.headerBytes + 16;
    bool failed = false;
    fuzzsupport::forEachRead(stream, plan, [&](const QByteArray& read) {
        if (failed)
            return; // nothing is read after a refusal
        monitor::RequestParser::State state = parser.feed(read);
        while (state == monitor::RequestParser::State::Complete) {
            const monitor::Request& r = parser.request();
            checkRequest(r);
            checkRoute(r, QByteArray());
            checkRoute(r, kKey);
            out.requests << r.method + ' ' + r.target;
            state = parser.next();
        }
        if (state == monitor::RequestParser::State::Failed) {
            out.failure = parser.failureStatus();
            FUZZ_CHECK(QList<int>({400, 414, 431, 505}).contains(out.failure));
            FUZZ_CHECK(parser.pendingBytes() == 0);
            failed = true;
            return;
        }
        // Only the line being read is held.
        FUZZ_CHECK(parser.pendingBytes() <= most);
    });
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 plan = data[0];
    const QByteArray stream = fuzzsupport::bytes(data + 1, size - 1);
    const Outcome outcome = readAll(stream, plan);
    // However the connection cut the bytes, the same requests come out.
    if (plan != 0)
        FUZZ_CHECK(outcome == readAll(stream, 0));
    return 0;
}
