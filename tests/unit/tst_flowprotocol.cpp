#include "flowprotocol.h"

#include <QtTest>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QRegExp>
#endif

#include <limits>

using namespace flow;

class TestFlowProtocol : public QObject
{
    Q_OBJECT

private slots:
    void commandFrames()
    {
        QCOMPARE(threadPollFrame(), QByteArray("A\r"));
        QCOMPARE(windowPollFrame(), QByteArray("A\r\0", 3));
        QCOMPARE(unitIdFrame(), QByteArray("\r\r*@=A\r"));
        QCOMPARE(gasSelectFrame(kN2GasIndex), QByteArray("A$$8\r"));
        QCOMPARE(gasSelectFrame(kO2GasIndex), QByteArray("A$$11\r"));
        QCOMPARE(registerWriteFrame(), QByteArray("A$$W20=9239\r"));
        QCOMPARE(gasNames().size(), 30);
        QCOMPARE(gasNames().at(kO2GasIndex), QStringLiteral("O2"));
        QCOMPARE(port(kO2Id), quint16(4002));
        QCOMPARE(port(0), quint16(4001));
        QCOMPARE(port(3), quint16(4001));
    }

    void setPointCountsTruncate()
    {
        const struct
        {
            float slpm;
            uchar id;
            const char* frame;
        } cases[] = {{5.0f, 2, "A32000\r"},  {5.0f, 1, "A16000\r"},
                     {0.0f, 2, "A0\r"},      {10.0f, 2, "A64000\r"},
                     {20.0f, 1, "A64000\r"}, {2.5f, 1, "A8000\r"},
                     {0.0001f, 2, "A0\r"},   {float(2.12235345), 2, "A13583\r"},
                     {-0.5f, 1, "A-1600\r"}, {float(10.0 - 2.12235345), 0, "A25208\r"}};
        for (const auto& c : cases)
            QCOMPARE(setPointFrame(c.slpm, c.id), QByteArray(c.frame));
    }

    void reportedSetPointMatchesTheOneSent()
    {
        // reported (field 5), sent, controller, counts as the set point sent
        const QList<std::tuple<float, float, uchar, bool>> cases = {
            {10.0f, 10.0f, kN2Id, true},
            {7.878f, float(10.0 - 2.12235345), kN2Id, true}, // 25208 counts
            {7.88f, float(10.0 - 2.12235345), kN2Id, true},  // two decimals
            {2.122f, float(2.12235345), kO2Id, true},
            {0.0f, 0.0f, kO2Id, true},
            {0.0f, 0.0001f, kO2Id, true}, // truncated to 0 counts
            {0.0f, -0.5f, kN2Id, true},   // held at 0
            {10.0f, 12.0f, kO2Id, true},  // held at full scale
            // a lost write: the controller still reports its earlier set point
            {7.878f, 10.0f, kN2Id, false},
            {2.122f, 0.0f, kO2Id, false},
            {0.0f, 0.02f, kO2Id, false}, // the smallest step that moves 0.01 bar
            {std::numeric_limits<float>::quiet_NaN(), 0.0f, kO2Id, false}};
        for (const auto& [reported, sent, id, matches] : cases)
            QVERIFY2(reportsSetPoint(reported, sent, id) == matches,
                     qPrintable(QStringLiteral("%1 %2").arg(double(reported)).arg(double(sent))));

        // mass flow, set point, controller, settled
        const QList<std::tuple<float, float, uchar, bool>> flows = {
            {10.0f, 10.0f, kN2Id, true},   {9.97f, 10.0f, kN2Id, true},
            {9.945f, 10.0f, kN2Id, false}, // still on its way up from gas off
            {4.0f, 10.0f, kN2Id, false},   {2.11f, 2.122f, kO2Id, true},
            {2.09f, 2.122f, kO2Id, false}, {0.0f, 0.0f, kO2Id, true},
            {0.03f, 0.0f, kO2Id, false}};
        for (const auto& [mass, setPoint, id, settled] : flows)
            QVERIFY2(flowSettled(mass, setPoint, id) == settled,
                     qPrintable(QStringLiteral("%1 %2").arg(double(mass)).arg(double(setPoint))));
    }

    void grammars()
    {
        QCOMPARE(windowGrammar().size(), 226);
        QCOMPARE(n2PollerGrammar().size(), 236);
        QCOMPARE(o2PollerGrammar().size(), 234);
        QVERIFY(n2PollerGrammar().endsWith(QStringLiteral("|Star29|P-5).*")));

        // reply, matches the window grammar, matches the poller grammars
        const QList<std::tuple<const char*, bool, bool>> cases = {
            {"A +014.70 +024.50 +000.00 +001.25 001.30 O2", true, true},
            {"A +014.70 +024.50 +000.00 +001.25 +001.30 N2", false, true},
            {"A +014.70 +024.50 +000.00 +001.25 001.30 O2 and more", true, true},
            {"A +014.70 +024.50 +000.00 +001.25 001.30   N2", true, true},
            {" A +014.70 +024.50 +000.00 +001.25 001.30 O2", false, false},
            {"A +014.70 +024.50 +000.00 +001.25 001.30 Foo", false, false},
            {"A +014.70 +024.50 +000.00 001.25 001.30 O2", false, false},
            {"A +014.70 +024.50 +000.00 +001.25 001", false, false},
            {"\r", false, false}};
        for (const auto& c : cases) {
            const QString reply = QString::fromLatin1(std::get<0>(c));
            QCOMPARE(compileGrammar(windowGrammar()).match(reply).hasMatch(), std::get<1>(c));
            QCOMPARE(compileGrammar(n2PollerGrammar()).match(reply).hasMatch(), std::get<2>(c));
            QCOMPARE(compileGrammar(o2PollerGrammar()).match(reply).hasMatch(), std::get<2>(c));
        }
    }

    // Anchored at the start of the text only, with the older engine's classes:
    // the same lines match under both toolkits.
    void grammarAnchorsAndClasses()
    {
        const QString good = QStringLiteral("A +014.70 +024.50 +000.00 +001.25 001.30 O2");
        const QChar nbsp(0xA0);
        // line, matches every grammar
        const QList<std::pair<QString, bool>> cases = {
            {good + QStringLiteral("\n"), true},
            {good + QStringLiteral("\nA"), true},
            {QStringLiteral("x\n") + good, false}, // no line start after a LF
            {QStringLiteral("\n") + good, false},
            {QString(good).replace(QLatin1Char(' '), QLatin1Char('\t')).replace(0, 2, "A "), true},
            {QString(good).replace(9, 1, nbsp), true}, // a Latin-1 blank is a blank
            {QString(good).replace(9, 1, QChar(0x1F)), false},
            {QString(good).replace(27, 1, QChar(0x0663)), true}, // a Unicode digit
            {QString(good).replace(27, 1, QChar(0xB2)), false},  // superscript two
        };
        for (const auto& [line, matches] : cases) {
            for (const QString& g : {windowGrammar(), n2PollerGrammar(), o2PollerGrammar()})
                QVERIFY2(compileGrammar(g).match(line).hasMatch() == matches, qPrintable(line));
        }
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        // Every Latin-1 character in every place of a data line: the poller's
        // verdict and numbers are those of the engine it replaced.
        const QRegularExpression grammar = compileGrammar(n2PollerGrammar());
        QRegExp legacy(n2PollerGrammar());
        for (int at = 0; at <= good.size(); ++at) {
            for (int c = 0; c < 256; ++c) {
                for (const QString& line :
                     {QString(good).replace(at, 1, QChar(c)), QString(good).insert(at, QChar(c))}) {
                    const PollerReply r = parsePollerReply(grammar, line);
                    const bool found = legacy.indexIn(line, 0) != -1;
                    QVERIFY2(r.matched == found, qPrintable(line));
                    if (found) {
                        QCOMPARE(r.massFlow, legacy.cap(kMassFlowCapture).toFloat());
                        QCOMPARE(r.setPoint, legacy.cap(kSetPointCapture).toFloat());
                    }
                }
            }
        }
#endif
    }

    void pollerCaptures()
    {
        for (const QString& g : {n2PollerGrammar(), o2PollerGrammar()}) {
            const QString line = QStringLiteral("A +014.70 +024.50 +000.00 -001.25 +001.30 N2");
            const PollerReply r = parsePollerReply(compileGrammar(g), line);
            QVERIFY(r.matched);
            QCOMPARE(r.setPoint, 1.30f);
            QCOMPARE(r.massFlow, -1.25f);
            const QRegularExpressionMatch m = compileGrammar(g).match(line);
            QCOMPARE(m.captured(10), QStringLiteral("+"));
            QCOMPARE(m.captured(11), QStringLiteral("N2"));
        }
        const QRegularExpression o2 = compileGrammar(o2PollerGrammar());
        const PollerReply none = parsePollerReply(o2, QStringLiteral("\r"));
        QVERIFY(!none.matched);
        QCOMPARE(none.massFlow, 0.0f);

        // Digits beyond a float's range in either field: no reading at all.
        const QString huge(60, QLatin1Char('9'));
        for (const QString& line :
             {QStringLiteral("A +014.70 +024.50 +000.00 +%1.25 001.30 O2").arg(huge),
              QStringLiteral("A +014.70 +024.50 +000.00 +001.25 %1.30 O2").arg(huge)}) {
            const PollerReply r = parsePollerReply(o2, line);
            QVERIFY(!r.matched);
            QCOMPARE(r.massFlow, 0.0f);
            QCOMPARE(r.setPoint, 0.0f);
        }
    }

    void lineAssembler()
    {
        const QByteArray line = "A +014.70 +024.50 +000.00 +001.25 001.30 O2";
        LineAssembler lines;
        QVERIFY(lines.feed(line.left(10)).isEmpty());
        QCOMPARE(lines.feed(line.mid(10) + "\r\n\r" + line + "\r" + line.left(4)),
                 (QList<QByteArray>{line, line}));
        lines.clear(); // a new connection: the partial line is forgotten
        QCOMPARE(lines.feed(line.mid(4) + '\r'), QList<QByteArray>{line.mid(4)});
        // The tail of an overlong line must not pass for a line of its own.
        QVERIFY(lines.feed(QByteArray(LineAssembler::kMaxLine + 7, 'x') + line + '\r').isEmpty());
        QCOMPARE(lines.feed(line + '\r'), QList<QByteArray>{line});
    }
};

QTEST_GUILESS_MAIN(TestFlowProtocol)
#include "tst_flowprotocol.moc"
