#include "httprequest.h"

#include <QList>

#include <cctype>

namespace monitor {

namespace {

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isToken(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

bool isSpaceOrTab(char c)
{
    return c == ' ' || c == '\t';
}

// Visible characters, spaces, tabs and bytes above ASCII: no control character.
bool isFieldValue(const QByteArray& value)
{
    for (const char c : value) {
        const uchar u = uchar(c);
        if (u < 0x20 ? u != '\t' : u == 0x7f)
            return false;
    }
    return true;
}

// The comma-separated tokens of a header such as Connection, compared without case.
bool listHas(const QByteArray& list, const char* token)
{
    for (const QByteArray& item : list.split(',')) {
        if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

QByteArray Request::header(const char* lowerCaseName) const
{
    for (const Header& h : headers) {
        if (h.name == lowerCaseName)
            return h.value;
    }
    return QByteArray();
}

bool Request::keepAlive() const
{
    const QByteArray connection = header("connection");
    if (minorVersion == 0)
        return listHas(connection, "keep-alive");
    return !listHas(connection, "close");
}

RequestParser::RequestParser(const ParserLimits& limits) : m_limits(limits) {}

RequestParser::State RequestParser::feed(const QByteArray& bytes)
{
    if (m_state == State::Failed)
        return m_state;
    m_buffer.append(bytes);
    return m_state == State::Complete ? m_state : parse();
}

RequestParser::State RequestParser::next()
{
    if (m_state == State::Failed)
        return m_state;
    m_buffer.remove(0, m_pos);
    m_pos = 0;
    m_request = Request();
    m_inHeaders = false;
    m_headerBytes = 0;
    m_skippedBytes = 0;
    m_state = State::Incomplete;
    return parse();
}

RequestParser::State RequestParser::fail(int status)
{
    m_state = State::Failed;
    m_failure = status;
    m_buffer.clear();
    m_pos = 0;
    return m_state;
}

RequestParser::State RequestParser::parse()
{
    for (;;) {
        const int end = m_buffer.indexOf('\n', m_pos);
        if (end < 0) {
            // A line still coming is held to the same limits as a whole one
            // (its CR may be in already).
            const int partial = m_buffer.size() - m_pos;
            if (!m_inHeaders && m_skippedBytes + partial > m_limits.requestLineBytes + 1)
                return fail(414);
            if (m_inHeaders && m_headerBytes + partial > m_limits.headerBytes)
                return fail(431);
            // Lines read are dropped, so the buffer holds one line at most.
            m_buffer.remove(0, m_pos);
            m_pos = 0;
            return m_state;
        }
        QByteArray line = m_buffer.mid(m_pos, end - m_pos);
        const int lineBytes = end + 1 - m_pos;
        m_pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!m_inHeaders) {
            m_skippedBytes += lineBytes;
            if (m_skippedBytes - lineBytes + line.size() > m_limits.requestLineBytes)
                return fail(414);
            // Empty lines before a request are left over from the one before.
            if (line.isEmpty())
                continue;
            if (!takeRequestLine(line))
                return fail(m_failure);
            m_inHeaders = true;
            continue;
        }
        if (line.isEmpty())
            return finishHeaders();
        m_headerBytes += lineBytes;
        if (m_headerBytes > m_limits.headerBytes ||
            int(m_request.headers.size()) >= m_limits.headerLines)
            return fail(431);
        if (!takeHeaderLine(line))
            return fail(400);
    }
}

bool RequestParser::takeRequestLine(const QByteArray& line)
{
    m_failure = 400;
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty())
        return false;
    for (const char c : parts[1]) {
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return false;
    }
    const QByteArray& version = parts[2];
    if (version == "HTTP/1.1" || version == "HTTP/1.0") {
        m_request.minorVersion = version.at(7) - '0';
    } else {
        const bool wellFormed = version.size() == 8 && version.startsWith("HTTP/") &&
                                version.at(6) == '.' && isdigit(uchar(version.at(5))) &&
                                isdigit(uchar(version.at(7)));
        if (wellFormed)
            m_failure = 505;
        return false;
    }
    m_request.method = parts[0];
    m_request.target = parts[1];
    return true;
}

bool RequestParser::takeHeaderLine(const QByteArray& line)
{
    // A line folded onto the one before is no longer HTTP.
    if (isSpaceOrTab(line.at(0)))
        return false;
    const int colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    const QByteArray name = line.left(colon);
    if (!isToken(name))
        return false;
    int from = colon + 1, to = line.size();
    while (from < to && isSpaceOrTab(line.at(from)))
        ++from;
    while (to > from && isSpaceOrTab(line.at(to - 1)))
        --to;
    const QByteArray value = line.mid(from, to - from);
    if (!isFieldValue(value))
        return false;
    m_request.headers.push_back({name.toLower(), value});
    return true;
}

RequestParser::State RequestParser::finishHeaders()
{
    int hosts = 0;
    for (const Header& h : m_request.headers) {
        // A body is never read: one announced would be taken for the next
        // request, so it is refused.
        if (h.name == "transfer-encoding")
            return fail(400);
        if (h.name == "content-length") {
            if (h.value.isEmpty())
                return fail(400);
            for (const char c : h.value) {
                if (c != '0')
                    return fail(400);
            }
        }
        if (h.name == "host")
            ++hosts;
    }
    if (hosts > 1 || (hosts == 0 && m_request.minorVersion == 1))
        return fail(400);
    m_state = State::Complete;
    return m_state;
}

} // namespace monitor
