#include "router.h"

#include <QHostAddress>

#include <cctype>
#include <utility>
#include <vector>

namespace monitor {

namespace {

struct Fixed
{
    const char* path;
    Route route;
};

constexpr Fixed kRoutes[] = {
    {"/", Route::Page},
    {"/monitor.js", Route::Script},
    {"/monitor.css", Route::Style},
    {"/chart.js", Route::ChartLibrary},
    {"/api/status", Route::Status},
    {"/api/history", Route::History},
    {"/events", Route::Events},
    {"/metrics", Route::Metrics},
    {"/export.csv", Route::ExportCsv},
};

// No control character, no backslash, no "." or ".." segment, whatever was
// escaped: such a path names nothing here.
bool cleanPath(const QByteArray& path)
{
    for (const char c : path) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7f || c == '\\')
            return false;
    }
    for (const QByteArray& segment : path.split('/')) {
        if (segment == "." || segment == "..")
            return false;
    }
    return true;
}

using Params = std::vector<std::pair<QByteArray, QByteArray>>;

bool parseQuery(const QByteArray& query, Params* params)
{
    for (const QByteArray& part : query.split('&')) {
        if (part.isEmpty())
            continue;
        const int eq = part.indexOf('=');
        QByteArray name, value;
        if (!percentDecode(eq < 0 ? part : part.left(eq), true, &name) ||
            !percentDecode(eq < 0 ? QByteArray() : part.mid(eq + 1), true, &value))
            return false;
        for (const auto& p : *params) {
            if (p.first == name)
                return false; // which of two would count?
        }
        params->emplace_back(name, value);
    }
    return true;
}

QByteArray cookieKey(const Request& request)
{
    const QByteArray prefix = QByteArray(kKeyCookie) + '=';
    for (const Header& h : request.headers) {
        if (h.name != "cookie")
            continue;
        for (const QByteArray& item : h.value.split(';')) {
            QByteArray cookie = item.trimmed();
            if (!cookie.startsWith(prefix))
                continue;
            cookie.remove(0, prefix.size());
            if (cookie.size() >= 2 && cookie.startsWith('"') && cookie.endsWith('"'))
                cookie = cookie.mid(1, cookie.size() - 2);
            return cookie;
        }
    }
    return QByteArray();
}

// "localhost", a loopback address, or one in brackets, each with a port or not.
bool loopbackHost(const QByteArray& host)
{
    QByteArray name = host;
    if (name.startsWith('[')) {
        const int close = name.indexOf(']');
        if (close < 0)
            return false;
        const QByteArray rest = name.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return false;
        name = name.mid(1, close - 1);
        return QHostAddress(QString::fromLatin1(name)).protocol() ==
                   QAbstractSocket::IPv6Protocol &&
               QHostAddress(QString::fromLatin1(name)).isLoopback();
    }
    const int colon = name.indexOf(':');
    if (colon >= 0)
        name.truncate(colon);
    if (name.compare("localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(QString::fromLatin1(name));
    return address.protocol() == QAbstractSocket::IPv4Protocol && address.isLoopback();
}

Routed failed(int status)
{
    Routed r;
    r.status = status;
    return r;
}

} // namespace

bool percentDecode(const QByteArray& text, bool plusIsSpace, QByteArray* out)
{
    // The toolkit's decoding lets a broken escape through as it stands.
    for (int i = text.indexOf('%'); i >= 0; i = text.indexOf('%', i + 1)) {
        if (i + 2 >= text.size() || !std::isxdigit(uchar(text.at(i + 1))) ||
            !std::isxdigit(uchar(text.at(i + 2))))
            return false;
    }
    *out = QByteArray::fromPercentEncoding(plusIsSpace ? QByteArray(text).replace('+', ' ') : text);
    return true;
}

bool sameKey(const QByteArray& given, const QByteArray& key)
{
    // Every byte of the key is looked at, however early a difference comes.
    volatile unsigned difference = unsigned(given.size() ^ key.size());
    for (int i = 0; i < key.size(); ++i) {
        const uchar g = i < given.size() ? uchar(given.at(i)) : 0;
        difference = difference | unsigned(g ^ uchar(key.at(i)));
    }
    return difference == 0 && !key.isEmpty();
}

Routed route(const Request& request, const QByteArray& key)
{
    const QByteArray& target = request.target;
    if (!target.startsWith('/') || target.contains('#'))
        return failed(400);
    const int mark = target.indexOf('?');
    QByteArray path;
    Params params;
    if (!percentDecode(mark < 0 ? target : target.left(mark), false, &path) || !cleanPath(path) ||
        !parseQuery(mark < 0 ? QByteArray() : target.mid(mark + 1), &params))
        return failed(400);
    auto param = [&params](const char* name) -> const QByteArray* {
        for (const auto& p : params) {
            if (p.first == name)
                return &p.second;
        }
        return nullptr;
    };

    Routed out;
    if (key.isEmpty()) {
        if (!loopbackHost(request.header("host")))
            return failed(421);
    } else {
        const QByteArray* inQuery = param("key");
        if (!sameKey(inQuery ? *inQuery : cookieKey(request), key))
            return failed(401);
        out.keyInQuery = inQuery != nullptr;
    }

    if (request.method != "GET" && request.method != "HEAD")
        return failed(405);
    out.head = request.method == "HEAD";
    bool found = false;
    for (const Fixed& f : kRoutes) {
        if (path == f.path) {
            out.route = f.route;
            found = true;
            break;
        }
    }
    if (!found)
        return failed(404);

    for (const auto& p : params) {
        if (p.first == "key")
            continue; // also where none is asked: an address kept from before
        if (out.route != Route::History || p.first != "span")
            return failed(400);
    }
    if (const QByteArray* span = param("span")) {
        if (*span == "10m")
            out.span = chartscale::Span::TenMinutes;
        else if (*span == "1h")
            out.span = chartscale::Span::OneHour;
        else if (*span == "run")
            out.span = chartscale::Span::WholeRun;
        else
            return failed(400);
    }
    return out;
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 414:
        return "URI Too Long";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

QByteArray responseHead(int status, const QByteArray& contentType, qint64 contentLength,
                        bool keepAlive, const QByteArray& extra)
{
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    if (contentLength >= 0)
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += "Cache-Control: no-store\r\n"
            "Content-Security-Policy: default-src 'self'\r\n"
            "X-Content-Type-Options: nosniff\r\n"
            "X-Frame-Options: DENY\r\n"
            "Referrer-Policy: no-referrer\r\n";
    head += extra;
    head += "\r\n";
    return head;
}

QByteArray errorResponse(int status, bool keepAlive, bool head)
{
    // A wrong key learns nothing, not even a reason.
    const QByteArray body = status == 401
                                ? QByteArray()
                                : QByteArray::number(status) + ' ' + reasonPhrase(status) + '\n';
    QByteArray extra;
    if (status == 405)
        extra = "Allow: GET, HEAD\r\n";
    if (status == 503)
        extra = "Retry-After: 5\r\n";
    return responseHead(status, body.isEmpty() ? QByteArray() : "text/plain; charset=utf-8",
                        body.size(), keepAlive, extra) +
           (head ? QByteArray() : body);
}

} // namespace monitor
