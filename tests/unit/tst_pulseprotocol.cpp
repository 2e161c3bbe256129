#include "pulseprotocol.h"

#include <QtTest>

using namespace pulse;

class TestPulseProtocol : public QObject
{
    Q_OBJECT

private slots:
    void commandsAndStatusWords()
    {
        QCOMPARE(command(false, QStringLiteral("010")), QByteArray("#010"));
        QCOMPARE(command(true, QStringLiteral("250")), QByteArray("$250"));
        QVERIFY(classify(answerText("RR2 KE1")) == Status::KE1); // order of precedence
        QVERIFY(classify(answerText("RR1KE2")) == Status::KE2);
        QVERIFY(classify(answerText("RR2\r")) == Status::RR2);
        QVERIFY(classify(answerText("ke1\r")) == Status::None);
        QVERIFY(classify(answerText(QByteArray("xx\0KE1", 6))) == Status::None);
    }

    void collectorWaitsForAStatusWordOrFourCharacters()
    {
        AnswerCollector answer;
        QVERIFY(!answer.add("K"));
        QVERIFY(!answer.add("E"));
        QVERIFY(answer.add("2\r"));
        QVERIFY(answer.status() == Status::KE2);
        QCOMPARE(answer.text(), QStringLiteral("KE2\r"));
        answer.clear();
        QVERIFY(!answer.add("ab"));
        QVERIFY(answer.add("cd"));
        QVERIFY(answer.status() == Status::None);
    }
};

QTEST_GUILESS_MAIN(TestPulseProtocol)
#include "tst_pulseprotocol.moc"
