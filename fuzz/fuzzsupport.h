#pragma once

// Shared by the fuzz targets: how an input becomes a stream of reads, and how
// a broken invariant is reported (an abort, so libFuzzer keeps the input).

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

[[noreturn]] inline void fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "\n*** invariant broken at %s:%d: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

// The bytes of an input, as the network would hand them over.
inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}

// Hands `stream` to `take` read by read, the way a TCP connection might deliver
// it. The plan byte seeds the read sizes; plan 0 delivers everything in one
// read. The reads point into `stream`: nothing is copied.
template <typename Take> void forEachRead(const QByteArray& stream, quint8 plan, Take take)
{
    if (plan == 0) {
        take(stream);
        return;
    }
    const quint32 largest = 1 + (plan & 0x0F);
    quint32 state = 0x9E3779B9u ^ (quint32(plan) * 2654435761u);
    int pos = 0;
    while (pos < stream.size()) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const int n = qMin(int(1 + state % largest), int(stream.size()) - pos);
        take(QByteArray::fromRawData(stream.constData() + pos, n));
        pos += n;
    }
}

// The first `count` pieces of `input` cut at each `separator`; missing ones
// are empty, and further separators stay in the last piece.
inline QList<QByteArray> pieces(const QByteArray& input, char separator, int count)
{
    QList<QByteArray> result;
    int from = 0;
    while (result.size() < count - 1) {
        const int at = int(input.indexOf(separator, from));
        if (at < 0)
            break;
        result.append(input.mid(from, at - from));
        from = at + 1;
    }
    result.append(input.mid(from));
    while (result.size() < count)
        result.append(QByteArray());
    return result;
}

} // namespace fuzzsupport

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzsupport::fail(#condition, __FILE__, __LINE__);                                     \
    } while (false)
