#include "presetfile.h"

#include <QtTest>

#include <QRandomGenerator>

#include <cstring>

using records::PresetReadResult;
using records::PresetValues;

Q_DECLARE_METATYPE(PresetValues)

namespace {

using IniGroups = QMap<QString, QMap<QString, QString>>;

// Deliberately naive reader of the written file: sections and key=value lines,
// nothing of the toolkit's own parsing.
IniGroups parseIni(const QString& path)
{
    IniGroups groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return groups;
    QString group;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            group = QString::fromLatin1(line.mid(1, line.size() - 2));
            groups[group];
            continue;
        }
        const int eq = line.indexOf('=');
        if (eq > 0)
            groups[group][QString::fromLatin1(line.left(eq))] =
                QString::fromLatin1(line.mid(eq + 1));
    }
    return groups;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

PresetValues sample()
{
    PresetValues v;
    v.unitFactor = 14.5038;
    v.waitBeforePulse = 12;
    v.extraWaitBeforeZero = 99999;
    v.waitCameraFeedback = true;
    v.delayBetweenPulses = 7;
    v.pulseWidth = QStringLiteral("005");
    v.manualT = -12.5;
    v.manualP = 65.2671;
    v.autoPOn = true;
    v.autoPFrom = 0.1;
    v.autoPTo = 58.0152;
    v.autoPDelta = 1.45;
    v.autoTOn = true;
    v.autoTFrom = 40.0;
    v.autoTTo = 10.0;
    v.autoTDelta = 0.3;
    v.addRefP = true;
    return v;
}

void compareValues(const PresetValues& actual, const PresetValues& expected)
{
    QCOMPARE(actual.unitFactor, expected.unitFactor);
    QCOMPARE(actual.waitBeforePulse, expected.waitBeforePulse);
    QCOMPARE(actual.extraWaitBeforeZero, expected.extraWaitBeforeZero);
    QCOMPARE(actual.waitCameraFeedback, expected.waitCameraFeedback);
    QCOMPARE(actual.delayBetweenPulses, expected.delayBetweenPulses);
    QCOMPARE(actual.pulseWidth, expected.pulseWidth);
    // Exact: a round trip must not move a set point by a rounding step.
    QVERIFY(actual.manualT == expected.manualT);
    QVERIFY(actual.manualP == expected.manualP);
    QCOMPARE(actual.autoPOn, expected.autoPOn);
    QVERIFY(actual.autoPFrom == expected.autoPFrom);
    QVERIFY(actual.autoPTo == expected.autoPTo);
    QVERIFY(actual.autoPDelta == expected.autoPDelta);
    QCOMPARE(actual.autoTOn, expected.autoTOn);
    QVERIFY(actual.autoTFrom == expected.autoTFrom);
    QVERIFY(actual.autoTTo == expected.autoTTo);
    QVERIFY(actual.autoTDelta == expected.autoTDelta);
    QCOMPARE(actual.addRefP, expected.addRefP);
}

} // namespace

class TestPresetFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void padPulseWidth_data();
    void padPulseWidth();
    void roundTrip_data();
    void roundTrip();
    void writtenLayout();
    void rewriteDropsStaleKeys();
    void writeFailure();
    void defaults();
    void unitTexts_data();
    void unitTexts();
    void clamping_data();
    void clamping();
    void pulseWidth_data();
    void pulseWidth();
    void badDoubles();
    void garbage_data();
    void garbage();
    void truncated();
    void toolkitBytes_data();
    void toolkitBytes();
    void booleans_data();
    void booleans();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
    // Each case its own file: the toolkit caches INI files by path within a process.
    QString casePath() const
    {
        return path(QString::fromLatin1(QTest::currentTestFunction()) + "-" +
                    QString::number(qHash(QString::fromLatin1(QTest::currentDataTag()))) + ".ini");
    }
};

void TestPresetFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPresetFile::padPulseWidth_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("expected");
    QTest::newRow("5") << 5 << "005";
    QTest::newRow("10") << 10 << "010";
    QTest::newRow("50") << 50 << "050";
    QTest::newRow("999") << 999 << "999";
    QTest::newRow("0 clamped") << 0 << "001";
    QTest::newRow("negative clamped") << -5 << "001";
    QTest::newRow("1000 clamped") << 1000 << "999";
}

void TestPresetFile::padPulseWidth()
{
    QFETCH(int, ms);
    QFETCH(QString, expected);
    QCOMPARE(records::padPulseWidth(ms), expected);
}

void TestPresetFile::roundTrip_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<bool>("unitKept");
    QTest::newRow("bar") << 1.0 << true;
    QTest::newRow("kpa") << 100.0 << true;
    QTest::newRow("psi") << 14.5038 << true;
    // Recognised as psi elsewhere, but a preset names only the exact factor.
    QTest::newRow("near psi") << 14.5037 << false;
    QTest::newRow("unknown") << 2.0 << false;
}

void TestPresetFile::roundTrip()
{
    QFETCH(double, factor);
    QFETCH(bool, unitKept);
    PresetValues values = sample();
    values.unitFactor = factor;
    const QString file = casePath();
    QVERIFY(records::writePreset(file, values));

    const PresetReadResult read = records::readPreset(file);
    QCOMPARE(read.status, QSettings::NoError);
    QVERIFY(!read.pulseWidthRejected);
    if (!unitKept)
        values.unitFactor.reset();
    compareValues(read.values, values);
}

void TestPresetFile::writtenLayout()
{
    const QString file = path("layout.ini");
    QVERIFY(records::writePreset(file, sample()));
    const IniGroups groups = parseIni(file);

    QCOMPARE(groups.keys(), (QStringList{"Auto", "Main", "Manual"}));
    QCOMPARE(groups["Main"].keys(),
             (QStringList{"DELAY_BETWEEN_PULSES", "PULSE_WIDTH", "UNITS", "WAIT_BEFORE_PULSE",
                          "WAIT_CAMERA_FEEDBACK", "WAIT_EXTRA_BEFORE_ZERO"}));
    QCOMPARE(groups["Manual"].keys(), (QStringList{"MANUAL_P", "MANUAL_T"}));
    QCOMPARE(groups["Auto"].keys(),
             (QStringList{"ADD_REFP", "AUTO_P_DELTA", "AUTO_P_FROM", "AUTO_P_ON", "AUTO_P_TO",
                          "AUTO_T_DELTA", "AUTO_T_FROM", "AUTO_T_ON", "AUTO_T_TO"}));

    // Plain text values, not the toolkit's binary variant encoding.
    QCOMPARE(groups["Main"]["UNITS"], QStringLiteral("psi"));
    QCOMPARE(groups["Main"]["WAIT_BEFORE_PULSE"], QStringLiteral("12"));
    QCOMPARE(groups["Main"]["WAIT_EXTRA_BEFORE_ZERO"], QStringLiteral("99999"));
    QCOMPARE(groups["Main"]["WAIT_CAMERA_FEEDBACK"], QStringLiteral("true"));
    QCOMPARE(groups["Main"]["DELAY_BETWEEN_PULSES"], QStringLiteral("7"));
    QCOMPARE(groups["Main"]["PULSE_WIDTH"], QStringLiteral("005"));
    QCOMPARE(groups["Manual"]["MANUAL_T"].toDouble(), -12.5);
    QCOMPARE(groups["Auto"]["AUTO_P_ON"], QStringLiteral("true"));
    QCOMPARE(groups["Auto"]["AUTO_T_DELTA"].toDouble(), 0.3);

    const QString kpa = path("kpa.ini");
    PresetValues values = sample();
    values.unitFactor = 100.0;
    QVERIFY(records::writePreset(kpa, values));
    QCOMPARE(parseIni(kpa)["Main"]["UNITS"], QStringLiteral("Pascal"));
    values.unitFactor = 1.0;
    QVERIFY(records::writePreset(path("bar.ini"), values));
    QCOMPARE(parseIni(path("bar.ini"))["Main"]["UNITS"], QStringLiteral("Bar"));
}

void TestPresetFile::rewriteDropsStaleKeys()
{
    const QString file = path("reuse.ini");
    writeFile(file, "[Main]\nUNITS=Pascal\nFOREIGN=1\n[Other]\nX=2\n");
    PresetValues values = sample();
    values.unitFactor = 3.0; // no unit name to write
    QVERIFY(records::writePreset(file, values));

    const IniGroups groups = parseIni(file);
    QVERIFY(!groups["Main"].contains("UNITS"));
    QVERIFY(!groups["Main"].contains("FOREIGN"));
    QVERIFY(!groups.contains("Other"));
    QVERIFY(!records::readPreset(file).values.unitFactor);
}

void TestPresetFile::writeFailure()
{
    const QString blocker = path("blocker");
    writeFile(blocker, "x");
    QVERIFY(!records::writePreset(blocker + "/preset.ini", sample()));
}

void TestPresetFile::defaults()
{
    const PresetValues expected;
    writeFile(path("empty.ini"), QByteArray());
    writeFile(path("other.ini"), "[Main]\nSOMETHING=1\n[Manual]\n[Auto]\nAUTO_P_ONX=true\n");
    for (const char* name : {"missing.ini", "empty.ini", "other.ini"}) {
        const PresetReadResult read = records::readPreset(path(name));
        compareValues(read.values, expected);
        QVERIFY(!read.pulseWidthRejected);
    }

    // A key in the wrong group is absent from the group the reader looks in.
    writeFile(path("misplaced.ini"), "[Auto]\nMANUAL_T=30\n[Manual]\nWAIT_BEFORE_PULSE=5\n");
    compareValues(records::readPreset(path("misplaced.ini")).values, expected);
}

void TestPresetFile::unitTexts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("factor"); // 0: none recognised
    QTest::newRow("Bar") << QByteArray("Bar") << 1.0;
    QTest::newRow("Pascal") << QByteArray("Pascal") << 100.0;
    QTest::newRow("psi") << QByteArray("psi") << 14.5038;
    QTest::newRow("bar lower case") << QByteArray("bar") << 0.0;
    QTest::newRow("PSI") << QByteArray("PSI") << 0.0;
    QTest::newRow("kPa") << QByteArray("kPa") << 0.0;
    QTest::newRow("number") << QByteArray("1.0") << 0.0;
    QTest::newRow("empty") << QByteArray("") << 0.0;
}

void TestPresetFile::unitTexts()
{
    QFETCH(QByteArray, text);
    QFETCH(double, factor);
    const QString file = casePath();
    writeFile(file, "[Main]\nUNITS=" + text + "\n[Manual]\nMANUAL_P=3.5\n");
    const PresetReadResult read = records::readPreset(file);
    if (factor == 0.0)
        QVERIFY(!read.values.unitFactor);
    else
        QCOMPARE(read.values.unitFactor, std::optional<double>(factor));
    QCOMPARE(read.values.manualP, 3.5); // pressures load as stored either way
}

void TestPresetFile::clamping_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("wait in range") << QByteArray("WAIT_BEFORE_PULSE") << QByteArray("300") << 300;
    QTest::newRow("wait negative") << QByteArray("WAIT_BEFORE_PULSE") << QByteArray("-5") << 0;
    QTest::newRow("wait too long")
        << QByteArray("WAIT_BEFORE_PULSE") << QByteArray("100000") << 99999;
    // Would wrap to 5 if read as a 32-bit integer.
    QTest::newRow("wait beyond int")
        << QByteArray("WAIT_BEFORE_PULSE") << QByteArray("4294967301") << 99999;
    QTest::newRow("wait text") << QByteArray("WAIT_BEFORE_PULSE") << QByteArray("soon") << 0;
    QTest::newRow("wait fraction") << QByteArray("WAIT_BEFORE_PULSE") << QByteArray("12.7") << 0;
    QTest::newRow("extra negative")
        << QByteArray("WAIT_EXTRA_BEFORE_ZERO") << QByteArray("-2147483648") << 0;
    QTest::newRow("extra max") << QByteArray("WAIT_EXTRA_BEFORE_ZERO") << QByteArray("99999")
                               << 99999;
    QTest::newRow("extra too long")
        << QByteArray("WAIT_EXTRA_BEFORE_ZERO") << QByteArray("2147483647") << 99999;
    QTest::newRow("delay max") << QByteArray("DELAY_BETWEEN_PULSES") << QByteArray("99") << 99;
    QTest::newRow("delay too long")
        << QByteArray("DELAY_BETWEEN_PULSES") << QByteArray("100") << 99;
    QTest::newRow("delay negative") << QByteArray("DELAY_BETWEEN_PULSES") << QByteArray("-1") << 0;
}

void TestPresetFile::clamping()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    const QString file = casePath();
    writeFile(file, "[Main]\n" + key + "=" + text + "\n");
    const PresetValues v = records::readPreset(file).values;
    const int actual = key == "WAIT_BEFORE_PULSE"        ? v.waitBeforePulse
                       : key == "WAIT_EXTRA_BEFORE_ZERO" ? v.extraWaitBeforeZero
                                                         : v.delayBetweenPulses;
    QCOMPARE(actual, expected);
}

void TestPresetFile::pulseWidth_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("expected"); // empty: rejected

    QTest::newRow("padded") << QByteArray("PULSE_WIDTH=010") << "010";
    QTest::newRow("short") << QByteArray("PULSE_WIDTH=5") << "005";
    QTest::newRow("two digits") << QByteArray("PULSE_WIDTH=50") << "050";
    QTest::newRow("max") << QByteArray("PULSE_WIDTH=999") << "999";
    QTest::newRow("extra zeros") << QByteArray("PULSE_WIDTH=0005") << "005";
    QTest::newRow("zero") << QByteArray("PULSE_WIDTH=0") << "";
    QTest::newRow("too wide") << QByteArray("PULSE_WIDTH=1000") << "";
    QTest::newRow("negative") << QByteArray("PULSE_WIDTH=-5") << "";
    QTest::newRow("signed") << QByteArray("PULSE_WIDTH=+5") << "";
    QTest::newRow("fraction") << QByteArray("PULSE_WIDTH=5.0") << "";
    QTest::newRow("word") << QByteArray("PULSE_WIDTH=wide") << "";
    QTest::newRow("empty") << QByteArray("PULSE_WIDTH=") << "";
    QTest::newRow("list") << QByteArray("PULSE_WIDTH=5, 6") << "";
    QTest::newRow("huge") << QByteArray("PULSE_WIDTH=4294967301") << "";
}

void TestPresetFile::pulseWidth()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);
    const QString file = casePath();
    writeFile(file, "[Main]\nWAIT_BEFORE_PULSE=3\n" + line + "\n");
    const PresetReadResult read = records::readPreset(file);
    QCOMPARE(read.values.waitBeforePulse, 3);
    if (expected.isEmpty()) {
        QVERIFY(read.pulseWidthRejected);
        QCOMPARE(read.values.pulseWidth,
                 QStringLiteral("010")); // the default, not the rejected text
        const QString message = records::rejectedPulseWidthMessage(read.rejectedPulseWidth, "020");
        QVERIFY(message.contains("020"));
    } else {
        QVERIFY(!read.pulseWidthRejected);
        QCOMPARE(read.values.pulseWidth, expected);
    }
}

void TestPresetFile::badDoubles()
{
    const QString file = path("doubles.ini");
    writeFile(file, "[Manual]\nMANUAL_T=nan\nMANUAL_P=inf\n"
                    "[Auto]\nAUTO_P_FROM=-inf\nAUTO_P_TO=1e3\nAUTO_P_DELTA=abc\n"
                    "AUTO_T_FROM=1e999\n");
    const PresetValues v = records::readPreset(file).values;
    QCOMPARE(v.manualT, 0.0);
    QCOMPARE(v.manualP, 0.0);
    QCOMPARE(v.autoPFrom, 0.0);
    QCOMPARE(v.autoPTo, 1000.0);
    QCOMPARE(v.autoPDelta, 0.0);
    QCOMPARE(v.autoTFrom, 0.0);
}

void TestPresetFile::garbage_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QRandomGenerator random(20240611);
    for (int size : {1, 17, 512, 65536}) {
        QByteArray bytes(size, '\0');
        for (char& c : bytes)
            c = char(random.bounded(256));
        QTest::newRow(qPrintable(QStringLiteral("random %1").arg(size))) << bytes;
    }
    QTest::newRow("unterminated section") << QByteArray("[Main\nWAIT_BEFORE_PULSE=5");
    QTest::newRow("nul bytes") << QByteArray("[Main]\0\0\nPULSE_WIDTH=\0\0\0\n", 24);
    QTest::newRow("broken variant")
        << QByteArray("[Main]\nPULSE_WIDTH=@Variant(\\0\\0\\0\\x7f\\xff)\n"
                      "WAIT_BEFORE_PULSE=@Variant(\n"
                      "DELAY_BETWEEN_PULSES=@ByteArray(\n");
    // A serialised list whose length field is garbage: the toolkit's own INI
    // reader would try to allocate it, and an escape can spell the '@'.
    static const char hugeList[] =
        "[Main]\nPULSE_WIDTH=@Variant(\\0\\0\\0\\t2\0\0)\n"
        "WAIT_BEFORE_PULSE=\\x40Variant(\\0\\0\\0\\t\\xff\\xff\\xff\\xff)\n";
    QTest::newRow("variant with a huge list") << QByteArray(hugeList, sizeof hugeList - 1);
    QTest::newRow("quotes and escapes") << QByteArray("[Main]\nPULSE_WIDTH=\"5\nUNITS=\\x\\\n");
    QTest::newRow("long line") << QByteArray("[Main]\nPULSE_WIDTH=") + QByteArray(200000, '9');
}

void TestPresetFile::garbage()
{
    QFETCH(QByteArray, bytes);
    const QString file = casePath();
    writeFile(file, bytes);
    const PresetReadResult read = records::readPreset(file);
    const PresetValues& v = read.values;
    QVERIFY(v.waitBeforePulse >= 0 && v.waitBeforePulse <= records::kMaxWaitBeforePulse);
    QVERIFY(v.extraWaitBeforeZero >= 0 &&
            v.extraWaitBeforeZero <= records::kMaxExtraWaitBeforeZero);
    QVERIFY(v.delayBetweenPulses >= 0 && v.delayBetweenPulses <= records::kMaxDelayBetweenPulses);
    QVERIFY(records::parsePulseWidth(v.pulseWidth).has_value());
    QCOMPARE(v.pulseWidth.size(), 3);
    QVERIFY(qIsFinite(v.manualT) && qIsFinite(v.manualP) && qIsFinite(v.autoPFrom));
}

void TestPresetFile::truncated()
{
    // A preset cut off part-way keeps whatever came before the cut.
    const QString whole = path("whole.ini");
    QVERIFY(records::writePreset(whole, sample()));
    QFile full(whole);
    QVERIFY(full.open(QIODevice::ReadOnly));
    const QByteArray text = full.readAll();
    const int main = text.indexOf("[Main]");
    QVERIFY(main > 0); // [Auto] comes first in the file
    const QString cut = path("cut.ini");
    writeFile(cut, text.left(main + 20));
    const PresetReadResult read = records::readPreset(cut);
    QCOMPARE(read.values.addRefP, true);
    QCOMPARE(read.values.autoTDelta, 0.3);
    QCOMPARE(read.values.manualT, 22.0); // [Manual] was cut off
}

// The bytes the toolkit's INI settings write for the same values, the way
// presets were always written.
QByteArray toolkitPreset(const QString& path, const PresetValues& v)
{
    {
        QSettings s(path, QSettings::IniFormat);
        s.beginGroup("Main");
        if (v.unitFactor && !records::unitsTextForFactor(*v.unitFactor).isEmpty())
            s.setValue("UNITS", records::unitsTextForFactor(*v.unitFactor));
        s.setValue("WAIT_BEFORE_PULSE", v.waitBeforePulse);
        s.setValue("WAIT_EXTRA_BEFORE_ZERO", v.extraWaitBeforeZero);
        s.setValue("WAIT_CAMERA_FEEDBACK", v.waitCameraFeedback);
        s.setValue("DELAY_BETWEEN_PULSES", v.delayBetweenPulses);
        s.setValue("PULSE_WIDTH", v.pulseWidth);
        s.endGroup();
        s.beginGroup("Manual");
        s.setValue("MANUAL_T", v.manualT);
        s.setValue("MANUAL_P", v.manualP);
        s.endGroup();
        s.beginGroup("Auto");
        s.setValue("AUTO_P_ON", v.autoPOn);
        s.setValue("AUTO_P_FROM", v.autoPFrom);
        s.setValue("AUTO_P_TO", v.autoPTo);
        s.setValue("AUTO_P_DELTA", v.autoPDelta);
        s.setValue("AUTO_T_ON", v.autoTOn);
        s.setValue("AUTO_T_FROM", v.autoTFrom);
        s.setValue("AUTO_T_TO", v.autoTTo);
        s.setValue("AUTO_T_DELTA", v.autoTDelta);
        s.setValue("ADD_REFP", v.addRefP);
        s.endGroup();
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<not written>");
}

void TestPresetFile::toolkitBytes_data()
{
    QTest::addColumn<PresetValues>("values");
    QTest::newRow("sample") << sample();
    QTest::newRow("defaults") << PresetValues();
    PresetValues v = sample();
    v.unitFactor = 2.0;
    v.manualT = 0.1 + 0.2;
    v.manualP = -0.0;
    v.autoPFrom = 1e21;
    v.autoPTo = 5e-324;
    v.autoPDelta = -1.7976931348623157e308;
    v.autoTFrom = qQNaN();
    v.autoTTo = -qInf();
    v.waitBeforePulse = -2147483647 - 1;
    QTest::newRow("unknown unit, awkward numbers") << v;
    // Texts a journal or a hand edit could put in the pulse width.
    const QStringList widths{"5, 6",
                             " 010",
                             "010 ",
                             "@010",
                             "a\"b\\c;",
                             "t\ta\rb\nc",
                             "a=b",
                             "\x01"
                             "2",
                             "\x7f"
                             "b",
                             "\u00e9t\u00e9",
                             "\u20ac1",
                             "#x",
                             "[Main]",
                             QString(3, QChar(0)),
                             QString::fromUtf16(u"\xD83D\xDE00 \xD800x\xDC00")};
    for (const QString& width : widths) {
        v = sample();
        v.pulseWidth = width;
        QTest::newRow(qPrintable("pulse width " + width.toUtf8().toHex())) << v;
    }
    QRandomGenerator random(20240612);
    for (int i = 0; i < 20; ++i) {
        v = sample();
        for (double* d : {&v.manualT, &v.manualP, &v.autoPFrom, &v.autoTDelta}) {
            const quint64 bits = random.generate64();
            std::memcpy(d, &bits, sizeof bits);
        }
        v.pulseWidth.clear();
        for (int c = random.bounded(6); c > 0; --c)
            v.pulseWidth +=
                QChar(char16_t(random.bounded(2) ? random.bounded(0x80) : random.bounded(0x10000)));
        QTest::newRow(qPrintable(QStringLiteral("random %1").arg(i))) << v;
    }
}

void TestPresetFile::toolkitBytes()
{
    QFETCH(PresetValues, values);
    const QByteArray expected = toolkitPreset(casePath(), values);
    QCOMPARE(records::presetToText(values), expected);
    const QString file = path("written.ini");
    QVERIFY(records::writePreset(file, values));
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), expected);

    // Read back from the bytes alone, as from the file.
    const PresetReadResult fromText = records::presetFromText(expected);
    const PresetReadResult fromFile = records::readPreset(file);
    compareValues(fromText.values, fromFile.values);
    QCOMPARE(fromText.pulseWidthRejected, fromFile.pulseWidthRejected);
    if (!fromText.pulseWidthRejected && values.pulseWidth == fromText.values.pulseWidth) {
        PresetValues kept = values;
        if (kept.unitFactor && records::unitsTextForFactor(*kept.unitFactor).isEmpty())
            kept.unitFactor.reset();
        for (double* d : {&kept.manualT, &kept.manualP, &kept.autoPFrom, &kept.autoPTo,
                          &kept.autoPDelta, &kept.autoTFrom, &kept.autoTTo, &kept.autoTDelta})
            *d = qIsFinite(*d) ? *d : 0.0;
        kept.waitBeforePulse = qBound(0, kept.waitBeforePulse, records::kMaxWaitBeforePulse);
        compareValues(fromText.values, kept);
    }
}

void TestPresetFile::booleans_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("quoted, blanks") << QByteArray(" \"true\" ") << true;
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("0") << QByteArray("0") << false;
    // Anything else is off, where the toolkit would switch it on.
    QTest::newRow("no") << QByteArray("no") << false;
    QTest::newRow("off") << QByteArray("off") << false;
    QTest::newRow("yes") << QByteArray("yes") << false;
    QTest::newRow("TRUE") << QByteArray("TRUE") << false;
    QTest::newRow("2") << QByteArray("2") << false;
    QTest::newRow("empty") << QByteArray("") << false;
}

void TestPresetFile::booleans()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, expected);
    const PresetValues v =
        records::presetFromText("[Main]\nWAIT_CAMERA_FEEDBACK=" + text + "\n[Auto]\nAUTO_P_ON=" +
                                text + "\nAUTO_T_ON=" + text + "\nADD_REFP=" + text + "\n")
            .values;
    QCOMPARE(v.waitCameraFeedback, expected);
    QCOMPARE(v.autoPOn, expected);
    QCOMPARE(v.autoTOn, expected);
    QCOMPARE(v.addRefP, expected);
}

QTEST_GUILESS_MAIN(TestPresetFile)
#include "tst_presetfile.moc"
