// The serial device server's web forms (HTTP/1.0).
#include "engine.h"

#include "wire.h"

namespace boxsim {
namespace detail {

namespace {

constexpr int kMaxHttpHead = 16384;

QByteArray page(const QByteArray& title, const QByteArray& text)
{
    return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>\n<BODY><P>" + text +
           "</P></BODY></HTML>\n";
}

} // namespace

void Engine::httpInput(Connection& c)
{
    int end = c.input.indexOf("\r\n\r\n");
    if (end < 0)
        end = c.input.indexOf("\n\n");
    if (end < 0) {
        if (c.input.size() > kMaxHttpHead)
            closeConnection(c);
        return;
    }
    QByteArray requestLine = c.input.left(c.input.indexOf('\n'));
    c.input.clear();
    if (requestLine.endsWith('\r'))
        requestLine.chop(1);
    // The target may hold raw blanks (the form values go out unencoded), so it
    // runs from the first blank to the protocol version.
    const int blank = requestLine.indexOf(' ');
    const QByteArray method = blank < 0 ? requestLine : requestLine.left(blank);
    QByteArray target = blank < 0 ? QByteArray() : requestLine.mid(blank + 1);
    const int version = target.lastIndexOf(" HTTP/");
    if (version >= 0)
        target.truncate(version);

    const QByteArray response = httpAnswer(method, target);
    recordFrame(c, target, method + " -> " + response.left(response.indexOf('\r')));
    answer(c, response, s->clockMs());
}

QByteArray Engine::httpAnswer(const QByteArray& method, const QByteArray& target)
{
    if (method != "GET" && method != "HEAD")
        return wire::httpResponse(405, "Method Not Allowed", page("Error", "Method not allowed"));
    const int question = target.indexOf('?');
    const QByteArray path = question < 0 ? target : target.left(question);
    const QByteArray query = question < 0 ? QByteArray() : target.mid(question + 1);
    const QByteArray saveNote = "Settings accepted. Save them and reboot to apply.";

    QByteArray body;
    if (path == "/network.html") {
        std::lock_guard<std::mutex> lock(s->mutex);
        body = wire::networkPage(s->network);
    } else if (path == "/Forms/network_1") {
        const QMap<QByteArray, QByteArray> fields = wire::parseQuery(query);
        std::lock_guard<std::mutex> lock(s->mutex);
        if (fields.contains("ip_address"))
            s->network.ipAddress = QString::fromUtf8(fields.value("ip_address"));
        if (fields.contains("subnet_mask"))
            s->network.subnetMask = QString::fromUtf8(fields.value("subnet_mask"));
        if (fields.contains("default_gateway"))
            s->network.defaultGateway = QString::fromUtf8(fields.value("default_gateway"));
        body = page("Save", saveNote);
    } else if (path == "/Forms/general_1") {
        body = page("Save", saveNote);
    } else if (path == "/Forms/save_1") {
        body = page("Saved", "Settings saved.");
    } else if (path == "/reboot.html") {
        body = page("Reboot", "The device server restarts now.");
    } else if (path == "/" || path == "/index.html") {
        body = page("Serial device server", "<A HREF=\"/network.html\">Network settings</A>");
    } else {
        return wire::httpResponse(404, "Not Found", page("Error", "Not found"));
    }
    QByteArray response = wire::httpResponse(200, "OK", body);
    if (method == "HEAD")
        response.chop(body.size());
    return response;
}

} // namespace detail
} // namespace boxsim
