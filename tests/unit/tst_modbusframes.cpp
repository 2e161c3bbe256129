#include "modbusframes.h"

#include <QtTest>

using namespace modbus;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = modbusCrc16(frame, int(frame.size()));
    return frame.append(char(crc & 0xFF)).append(char(crc >> 8));
}

// A read answer of slave 1 whose first register holds `first`.
QByteArray readAnswer(const char* first)
{
    return withCrc(hex("010408") + hex(first) + hex("123400000000"));
}

} // namespace

class TestModbusFrames : public QObject
{
    Q_OBJECT

private slots:
    void crcAndRequestFrames()
    {
        QCOMPARE(modbusCrc16("123456789", 9), quint16(0x4B37));
        QByteArray frame = hex("010403E80004FFFF"); // the CRC bytes are replaced
        addFrameCrc(frame);
        QCOMPARE(frame, hex("010403E8000471B9"));
        QCOMPARE(pollRequest(), frame);
        QCOMPARE(writeRegisterFrame(kSetPointRegister, encodeTenths(22.0)),
                 hex("010603EA00DCA9E3"));
        QCOMPARE(writeRegisterFrame(kSetPointRegister, encodeTenths(-20.0)),
                 hex("010603EAFF38E858"));
        QCOMPARE(writeRegisterFrame(kRunRegister, 1), hex("010603EC000189BB"));

        const char* initFrames[] = {"010603F80000087F", "010603F70001F9BC", "010603FB000139BF",
                                    "010603ED0032986E", "010603EE00F0E9FF", "010603EF0258B8E1",
                                    "010603F30032F868", "01060406FF9C2962", "0106040703E83985",
                                    "0106048AFF92694D", "0106048B03F279A5", "010603EC0000487B",
                                    "010603F9FF06984D", "010603FA07D16BD3"};
        for (size_t i = 0; i < kInitialisationWrites.size(); ++i) {
            const RegisterWrite& w = kInitialisationWrites[i];
            QVERIFY2(writeRegisterFrame(w.reg, quint16(w.value)) == hex(initFrames[i]),
                     qPrintable(QString::number(i + 1)));
        }
    }

    void temperatureConversions()
    {
        const QList<QPair<double, int>> encoded = {
            {22.0, 0x00DC},  {25.3, 253},    {90.0, 0x0384}, {-20.0, 0xFF38},
            {-25.0, 0xFF06}, {-0.1, 0xFFFF}, {0.09, 0},      {6600.0, 66006 & 0xFFFF}};
        for (const auto& e : encoded)
            QVERIFY2(encodeTenths(e.first) == e.second, qPrintable(QString::number(e.first)));

        const QList<QPair<int, float>> decoded = {{0x00EB, 23.5f},  {0xFF9C, -10.0f},
                                                  {60000, 6000.0f}, {60001, -553.5f},
                                                  {32768, 3276.8f}, {0xFFFF, -0.1f}};
        for (const auto& d : decoded)
            QCOMPARE(decodeTenths(quint16(d.first)), d.second);
    }

    void registerExtractionFromShortInput()
    {
        QCOMPARE(replyRegisterValue(readAnswer("00EB"), 3), quint16(0x00EB));
        QCOMPARE(replyRegisterValue(hex("010603EAFF38E858"), 4), quint16(0xFF38));
        QCOMPARE(decodeTenths(replyRegisterValue(hex("010603EAFF38E858"), 4)), -20.0f);
        QCOMPARE(replyRegisterValue(QByteArray(), 3), quint16(0));
        QCOMPARE(replyRegisterValue(hex("01040800"), 3), quint16(0));
        QCOMPARE(replyRegisterValue(hex("010408AB"), 3), quint16(0xAB));
        QCOMPARE(replyRegisterValue(hex("0104"), 3), quint16(0));
    }

    void assemblerJoinsSplitAndConcatenatedAnswers()
    {
        const QByteArray a = readAnswer("00EB");
        const QByteArray b = readAnswer("FF9C");
        for (int cut = 1; cut < a.size(); ++cut) {
            AnswerAssembler assembler;
            QVERIFY(assembler.feed(a.left(cut)).isEmpty());
            QCOMPARE(assembler.feed(a.mid(cut) + b + a.left(cut)), (QList<QByteArray>{a, b}));
            QCOMPARE(assembler.feed(a.mid(cut)), QList<QByteArray>{a});
        }
    }

    void assemblerResynchronisesAfterBadInput()
    {
        QByteArray badCrc = readAnswer("0999");
        badCrc[12] = char(badCrc.at(12) ^ 0x5A);
        const QList<QByteArray> junk = {QByteArray("noise\r\n\x01\x02"),
                                        hex("010408"),
                                        badCrc,
                                        badCrc.left(9),
                                        withCrc(hex("018402")),
                                        hex("0184020000"),
                                        hex("010603EAFF38E858"),
                                        withCrc(hex("01040200EB"))};
        const QByteArray good = readAnswer("00EB");
        for (const QByteArray& before : junk) {
            AnswerAssembler assembler;
            QCOMPARE(assembler.feed(before + good), QList<QByteArray>{good});
            QCOMPARE(assembler.pendingBytes(), 0);
        }
        AnswerAssembler assembler;
        assembler.feed(withCrc(hex("018402")) + good.left(4));
        QCOMPARE(assembler.exceptionsDropped(), 1);
        assembler.clear(); // a new connection: the partial answer is forgotten
        QVERIFY(assembler.feed(good.mid(4)).isEmpty());
    }

    void assemblerRejectsEverySingleBitError()
    {
        const QByteArray good = readAnswer("00EB");
        for (int i = 0; i < good.size() * 8; ++i) {
            QByteArray bad = good;
            bad[i / 8] = char(bad.at(i / 8) ^ (1 << (i % 8)));
            QVERIFY(AnswerAssembler().feed(bad).isEmpty());
        }
    }

    void writeEchoAssembler()
    {
        const QByteArray echo = hex("010603EAFF38E858");
        AnswerAssembler assembler(AnswerAssembler::Kind::WriteEcho);
        QVERIFY(assembler.feed(readAnswer("00EB") + echo.left(3)).isEmpty());
        QCOMPARE(assembler.feed(echo.mid(3) + withCrc(hex("018602"))), QList<QByteArray>{echo});
        QCOMPARE(assembler.exceptionsDropped(), 1);
    }
};

QTEST_GUILESS_MAIN(TestModbusFrames)
#include "tst_modbusframes.moc"
