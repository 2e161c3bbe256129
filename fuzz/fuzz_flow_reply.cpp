// The flow pollers' side of ports 4001 and 4002: lines assembled from the
// reads, then matched with the window's and the two pollers' grammars.
// Input: one plan byte for the read sizes, then the bytes of the connection.
#include "flowprotocol.h"
#include "fuzzsupport.h"

#include <QStringList>

#include <cmath>

namespace {

QList<QByteArray> assemble(const QByteArray& stream, quint8 plan)
{
    flow::LineAssembler assembler;
    QList<QByteArray> lines;
    fuzzsupport::forEachRead(stream, plan, [&](const QByteArray& read) {
        lines += assembler.feed(read);
        FUZZ_CHECK(assembler.pendingBytes() <= flow::LineAssembler::kMaxLine);
    });
    return lines;
}

// What the assembler promises, worked out line by line: CR ends a line,
// LFs at the start of a line are dropped, empty and overlong lines vanish.
QList<QByteArray> expectedLines(const QByteArray& stream)
{
    QList<QByteArray> lines;
    QList<QByteArray> pieces = stream.split('\r');
    pieces.removeLast(); // not ended by a CR yet
    for (QByteArray piece : pieces) {
        int lf = 0;
        while (lf < piece.size() && piece.at(lf) == '\n')
            ++lf;
        piece.remove(0, lf);
        if (!piece.isEmpty() && piece.size() <= flow::LineAssembler::kMaxLine)
            lines.append(piece);
    }
    return lines;
}

// The numbers of a data line split at white space, as the grammar sees it.
QStringList fields(const QString& line)
{
    QStringList result;
    QString current;
    for (const QChar c : line) {
        if (c.isSpace()) {
            if (!current.isEmpty())
                result.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty())
        result.append(current);
    return result;
}

void checkLine(const QByteArray& bytes)
{
    static const QRegularExpression window = flow::compileGrammar(flow::windowGrammar());
    static const QRegularExpression n2 = flow::compileGrammar(flow::n2PollerGrammar());
    static const QRegularExpression o2 = flow::compileGrammar(flow::o2PollerGrammar());

    const QString line = QString::fromLatin1(bytes);
    const bool windowMatch = window.match(line).hasMatch();
    const bool n2Match = n2.match(line).hasMatch();
    const QRegularExpressionMatch o2Found = o2.match(line);
    const bool o2Match = o2Found.hasMatch();
    // The window's set-point field is the unsigned form of the pollers'; the
    // N2 grammar only adds a trailing ".*".
    FUZZ_CHECK(n2Match == o2Match);
    FUZZ_CHECK(!windowMatch || o2Match);

    const flow::PollerReply n2Reply = flow::parsePollerReply(n2, line);
    const flow::PollerReply o2Reply = flow::parsePollerReply(o2, line);
    FUZZ_CHECK(n2Reply.matched == o2Reply.matched);
    FUZZ_CHECK(!o2Reply.matched || o2Match); // a reading comes from a data line only
    if (!o2Reply.matched) {
        FUZZ_CHECK(o2Reply.massFlow == 0 && o2Reply.setPoint == 0);
        return;
    }
    FUZZ_CHECK(n2Reply.massFlow == o2Reply.massFlow && n2Reply.setPoint == o2Reply.setPoint);

    // A reading the window could act on: finite numbers...
    FUZZ_CHECK(std::isfinite(o2Reply.massFlow));
    FUZZ_CHECK(std::isfinite(o2Reply.setPoint));
    FUZZ_CHECK(line.startsWith(QLatin1String("A ")));
    // ...taken from the right fields: unit, four signed numbers, the set point, the gas.
    const QStringList f = fields(line);
    FUZZ_CHECK(f.size() >= 7);
    FUZZ_CHECK(o2Reply.massFlow == f.at(4).toFloat());
    FUZZ_CHECK(o2Reply.setPoint == f.at(5).toFloat());
    FUZZ_CHECK(flow::gasNames().contains(o2Found.captured(11)));
    FUZZ_CHECK(f.at(6).startsWith(o2Found.captured(11)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 plan = data[0];
    const QByteArray stream = fuzzsupport::bytes(data + 1, size - 1);

    const QList<QByteArray> lines = assemble(stream, plan);
    FUZZ_CHECK(lines == expectedLines(stream));
    for (const QByteArray& line : lines) {
        FUZZ_CHECK(!line.isEmpty() && line.size() <= flow::LineAssembler::kMaxLine);
        FUZZ_CHECK(!line.contains('\r') && !line.startsWith('\n'));
        checkLine(line);
    }
    return 0;
}
