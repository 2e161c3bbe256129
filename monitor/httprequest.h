#pragma once

#include <QByteArray>

#include <vector>

// The monitor's HTTP/1.1 requests, read from the bytes of a connection as they
// come. Only what a browser, curl or a metrics scraper sends for GET and HEAD
// is taken: a request line, header lines and no body. Everything else fails
// with the status to answer before the connection is closed.
namespace monitor {

struct Header
{
    QByteArray name; // lower case
    QByteArray value;
};

struct Request
{
    QByteArray method;
    QByteArray target;    // as sent: path and query, never decoded here
    int minorVersion = 1; // HTTP/1.x
    std::vector<Header> headers;

    // The first value of header `lowerCaseName`, or a null array.
    QByteArray header(const char* lowerCaseName) const;
    // Whether the connection stays open after the answer.
    bool keepAlive() const;
};

struct ParserLimits
{
    int requestLineBytes = 8 * 1024; // beyond: 414
    int headerBytes = 16 * 1024;     // all header lines together; beyond: 431
    int headerLines = 100;           // beyond: 431
};

class RequestParser
{
public:
    enum class State
    {
        Incomplete,
        Complete,
        Failed,
    };

    explicit RequestParser(const ParserLimits& limits = ParserLimits());

    // Takes the next bytes of the connection. Complete once a whole request
    // is in (bytes after it wait for next()); Failed for good, with
    // failureStatus() to answer.
    State feed(const QByteArray& bytes);
    State state() const { return m_state; }
    const Request& request() const { return m_request; }
    // 400, 414, 431 or 505.
    int failureStatus() const { return m_failure; }
    // Bytes held that belong to no request read yet.
    int pendingBytes() const { return m_buffer.size() - m_pos; }
    // Goes on to the next request, with the bytes that came after this one.
    State next();

private:
    State parse();
    State fail(int status);
    bool takeRequestLine(const QByteArray& line);
    bool takeHeaderLine(const QByteArray& line);
    State finishHeaders();

    ParserLimits m_limits;
    State m_state = State::Incomplete;
    int m_failure = 0;
    QByteArray m_buffer;
    int m_pos = 0; // start of the line being read
    bool m_inHeaders = false;
    int m_headerBytes = 0;
    int m_skippedBytes = 0; // empty lines before the request line
    Request m_request;
};

} // namespace monitor
