#include "logfiles.h"
#include "runlog.h"

#include <QtTest>

using records::LogFileNames;
using records::LogLayout;
using records::LogStatus;

Q_DECLARE_METATYPE(LogStatus)

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

records::RecordValues point(int number, float bar, float celsius)
{
    records::RecordValues v;
    v.number = number;
    v.pressureBar = bar;
    v.temperature = celsius;
    v.n2Text = QStringLiteral("5.289");
    v.o2Text = QStringLiteral("4.711");
    return v;
}

} // namespace

class TestLogFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void names_data();
    void names();
    void messages();
    void createWritesBothHeaders();
    void createFailures();
    void appendRecords();
    void appendIsAllOrNothing_data();
    void appendIsAllOrNothing();
    void withdrawTakesBackTheLastRecord();
    void runLogNumbersAndTakesBack();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void TestLogFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestLogFiles::names_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("raw");

    QTest::newRow("csv") << "/data/run1.csv"
                         << "*.csv"
                         << "/data/run1.csv"
                         << "/data/run1_SLPM.csv";
    QTest::newRow("cls") << "/data/run1.cls"
                         << "*.cls"
                         << "/data/run1.cls"
                         << "/data/run1_SLPM.csv";
    QTest::newRow("csv added") << "/data/run1"
                               << "*.csv"
                               << "/data/run1.csv"
                               << "/data/run1_SLPM.csv";
    QTest::newRow("cls added") << "/data/run1"
                               << "*.cls"
                               << "/data/run1.cls"
                               << "/data/run1_SLPM.csv";
    QTest::newRow("upper case ending kept") << "/data/RUN1.CSV"
                                            << "*.csv"
                                            << "/data/RUN1.CSV"
                                            << "/data/RUN1_SLPM.csv";
    // The other layout's ending is replaced, not followed by a second one.
    QTest::newRow("csv name, cls filter") << "/data/run1.csv"
                                          << "*.cls"
                                          << "/data/run1.cls"
                                          << "/data/run1_SLPM.csv";
    QTest::newRow("cls name, csv filter") << "/data/run1.CLS"
                                          << "*.csv"
                                          << "/data/run1.csv"
                                          << "/data/run1_SLPM.csv";
    QTest::newRow("upper-case own ending stays") << "/data/run1.CSV"
                                                 << "*.csv"
                                                 << "/data/run1.CSV"
                                                 << "/data/run1_SLPM.csv";
    QTest::newRow("ending inside the name") << "/data/a.csv.txt"
                                            << "*.csv"
                                            << "/data/a.csv.txt.csv"
                                            << "/data/a.csv.txt_SLPM.csv";
    // Without the added ending both would lose "run" and share one raw log.
    QTest::newRow("short names differ") << "/data/run10"
                                        << "*.csv"
                                        << "/data/run10.csv"
                                        << "/data/run10_SLPM.csv";
    QTest::newRow("no filter means cls") << "/data/ab"
                                         << ""
                                         << "/data/ab.cls"
                                         << "/data/ab_SLPM.csv";
    QTest::newRow("cancelled") << ""
                               << "*.csv"
                               << ""
                               << "_SLPM.csv";
    QTest::newRow("windows path") << "D:/data/run1.csv"
                                  << "*.csv"
                                  << "D:/data/run1.csv"
                                  << "D:/data/run1_SLPM.csv";
}

void TestLogFiles::names()
{
    QFETCH(QString, chosen);
    QFETCH(QString, filter);
    QFETCH(QString, log);
    QFETCH(QString, raw);
    const LogFileNames names = records::logFileNamesFor(chosen, filter);
    QCOMPARE(names.log, QDir::toNativeSeparators(log));
    QCOMPARE(names.rawLog, QDir::toNativeSeparators(raw));
#ifndef Q_OS_WIN
    QVERIFY(!names.log.contains(QLatin1Char('\\')));
#endif
}

void TestLogFiles::messages()
{
    QCOMPARE(records::logStatusMessage(LogStatus::Ok), QString());
    QCOMPARE(records::logStatusMessage(LogStatus::CantOpenLog),
             QStringLiteral("Warning: Can't open log file for writing."));
    QCOMPARE(records::logStatusMessage(LogStatus::CantOpenRawLog),
             QStringLiteral("Warning: Can't open raw-log file for writing."));
    QCOMPARE(records::logStatusMessage(LogStatus::CantWriteLog),
             QStringLiteral("Warning: Can't write to log file."));
    QCOMPARE(records::logStatusMessage(LogStatus::CantWriteRawLog),
             QStringLiteral("Warning: Can't raw_write to log file."));
}

void TestLogFiles::createWritesBothHeaders()
{
    const LogFileNames names = records::logFileNamesFor(path("run.cls"), "*.cls");
    writeFile(names.log, "old log contents that must go\r\n");
    writeFile(names.rawLog, "old raw contents\r\n");

    QCOMPARE(records::createLogFiles(names, LogLayout::Cls, true, 100.0), LogStatus::Ok);
    QCOMPARE(contents(names.log), QByteArray("n251\r\nP,Pa T,C Isens Lsens Iref Lref\r\n"));
    QCOMPARE(contents(names.rawLog), QByteArray("#,N2[slpm],O2[slpm],T[C],Pair[Pa],O2[%]\r\n"));
}

void TestLogFiles::createFailures()
{
    const QString blocker = path("plain-file");
    writeFile(blocker, "x");

    // Nothing can be created below a regular file, not even by root.
    LogFileNames names = records::logFileNamesFor(blocker + "/run.csv", "*.csv");
    QCOMPARE(records::createLogFiles(names, LogLayout::Csv, false, 1.0), LogStatus::CantOpenLog);

    names.log = path("good.csv");
    names.rawLog = blocker + "/good_SLPM.csv";
    QCOMPARE(records::createLogFiles(names, LogLayout::Csv, false, 1.0), LogStatus::CantOpenRawLog);
    QCOMPARE(contents(names.log), QByteArray()); // left behind empty, as the window reports

    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full");
    names.log = "/dev/full";
    names.rawLog = path("full_SLPM.csv");
    QCOMPARE(records::createLogFiles(names, LogLayout::Csv, false, 1.0), LogStatus::CantOpenLog);
    names.log = path("full.csv");
    names.rawLog = "/dev/full";
    QCOMPARE(records::createLogFiles(names, LogLayout::Csv, false, 1.0), LogStatus::CantOpenRawLog);
}

void TestLogFiles::appendRecords()
{
    const LogFileNames names = records::logFileNamesFor(path("run"), "*.csv");
    QCOMPARE(records::createLogFiles(names, LogLayout::Csv, false, 1.0), LogStatus::Ok);
    QCOMPARE(records::appendRecord(names, LogLayout::Csv, false, 1.0, point(1, 0.95f, 22.0f)),
             LogStatus::Ok);
    // The color box changed after the file was chosen: the record follows it, the header not.
    QCOMPARE(records::appendRecord(names, LogLayout::Csv, true, 1.0, point(2, -1.0f, 22.5f)),
             LogStatus::Ok);

    QCOMPARE(contents(names.log),
             QByteArray("P[Bar],T[C],Isens,Lsens\r\n"
                        "0.950000,22.0,calib_000001.tif,1\r\n"
                        "n/a,22.5,calib_000002_p.tif,1,calib_000002_r.tif,1\r\n"));
    QCOMPARE(contents(names.rawLog), QByteArray("#,N2[slpm],O2[slpm],T[C],Pair[bar],O2[%]\r\n"
                                                "000001,5.289,4.711,22.0,0.950000,20.2\r\n"
                                                "000002,5.289,4.711,22.5,n/a,n/a\r\n"));
}

void TestLogFiles::appendIsAllOrNothing_data()
{
    QTest::addColumn<QString>("badLog");
    QTest::addColumn<QString>("badRaw");
    QTest::addColumn<LogStatus>("expected");

    QTest::newRow("log below a file") << "blocker/run.csv"
                                      << "" << LogStatus::CantWriteLog;
    QTest::newRow("raw below a file") << ""
                                      << "blocker/run_SLPM.csv" << LogStatus::CantWriteRawLog;
    QTest::newRow("log disk full") << "/dev/full"
                                   << "" << LogStatus::CantWriteLog;
    // The calibration line is written first and must be taken back again.
    QTest::newRow("raw disk full") << ""
                                   << "/dev/full" << LogStatus::CantWriteRawLog;
}

void TestLogFiles::appendIsAllOrNothing()
{
    QFETCH(QString, badLog);
    QFETCH(QString, badRaw);
    QFETCH(LogStatus, expected);
    if ((badLog == "/dev/full" || badRaw == "/dev/full") && !QFile::exists("/dev/full"))
        QSKIP("no /dev/full");

    writeFile(path("blocker"), "x");
    const auto resolve = [this](const QString& bad) {
        return bad.startsWith(QLatin1Char('/')) ? bad : path(bad);
    };
    LogFileNames names = records::logFileNamesFor(path("run.csv"), "*.csv");
    QCOMPARE(records::createLogFiles(names, LogLayout::Csv, true, 1.0), LogStatus::Ok);
    QCOMPARE(records::appendRecord(names, LogLayout::Csv, true, 1.0, point(1, 1.0f, 22.0f)),
             LogStatus::Ok);
    const QByteArray logBefore = contents(names.log);
    const QByteArray rawBefore = contents(names.rawLog);

    const QString goodLog = names.log;
    const QString goodRaw = names.rawLog;
    if (!badLog.isEmpty())
        names.log = resolve(badLog);
    if (!badRaw.isEmpty())
        names.rawLog = resolve(badRaw);

    QCOMPARE(records::appendRecord(names, LogLayout::Csv, true, 1.0, point(2, 2.0f, 23.0f)),
             expected);
    QCOMPARE(contents(goodLog), logBefore);
    QCOMPARE(contents(goodRaw), rawBefore);
}

void TestLogFiles::withdrawTakesBackTheLastRecord()
{
    const LogFileNames names = records::logFileNamesFor(path("run.cls"), "*.cls");
    QCOMPARE(records::createLogFiles(names, LogLayout::Cls, true, 1.0), LogStatus::Ok);
    QCOMPARE(records::appendRecord(names, LogLayout::Cls, true, 1.0, point(1, 1.0f, 22.0f)),
             LogStatus::Ok);
    const QByteArray logBefore = contents(names.log);
    const QByteArray rawBefore = contents(names.rawLog);

    records::LogEnds ends;
    QCOMPARE(records::appendRecord(names, LogLayout::Cls, true, 1.0, point(2, 2.0f, 23.0f), &ends),
             LogStatus::Ok);
    QCOMPARE(ends.log, qint64(logBefore.size()));
    QCOMPARE(ends.rawLog, qint64(rawBefore.size()));
    QVERIFY(records::withdrawRecord(names, ends));
    QCOMPARE(contents(names.log), logBefore);
    QCOMPARE(contents(names.rawLog), rawBefore);
    // The same number goes in again, in its place.
    QCOMPARE(records::appendRecord(names, LogLayout::Cls, true, 1.0, point(2, 2.5f, 23.0f)),
             LogStatus::Ok);
    QVERIFY(contents(names.log).endsWith(
        "2.500000 23.0 calib_000002_p.tif 1 calib_000002_r.tif 1\r\n"));

    // Files that are already shorter no longer end with that record: untouched.
    writeFile(names.rawLog, "#\r\n");
    const QByteArray logNow = contents(names.log);
    QVERIFY(!records::withdrawRecord(names, ends));
    QCOMPARE(contents(names.log), logNow);
    QCOMPARE(contents(names.rawLog), QByteArray("#\r\n"));
    QVERIFY(!records::withdrawRecord(names, records::LogEnds()));
}

void TestLogFiles::runLogNumbersAndTakesBack()
{
    records::RunLog log;
    log.setFiles(records::logFileNamesFor(path("run.csv"), "*.csv"));
    const records::LogFormat format{LogLayout::Csv, false, 1.0};
    QCOMPARE(log.create(format), LogStatus::Ok);
    const QByteArray header = contents(log.files().log);
    QCOMPARE(log.append(format, point(99, 1.0f, 20.0f)), LogStatus::Ok);
    const QByteArray one = contents(log.files().log);
    QCOMPARE(log.append(format, point(99, 2.0f, 21.0f)), LogStatus::Ok);
    QCOMPARE(log.lastNumber(), 2); // numbered by the log, not by the caller
    QVERIFY(contents(log.files().log).contains("calib_000002"));

    // Taken back once; a second take-back has nothing left to take.
    QVERIFY(log.takeBackLast());
    QCOMPARE(log.lastNumber(), 1);
    QCOMPARE(contents(log.files().log), one);
    QVERIFY(log.takeBackLast());
    QCOMPARE(contents(log.files().log), one);

    // A stop ends the run before the record's pulse: the numbering restarts,
    // the record still leaves the files.
    QCOMPARE(log.append(format, point(0, 3.0f, 22.0f)), LogStatus::Ok);
    log.restartNumbering();
    QVERIFY(log.takeBackLast());
    QCOMPARE(contents(log.files().log), one);
    QCOMPARE(log.lastNumber(), 0);

    // A record that went nowhere leaves the last written one alone.
    QCOMPARE(log.append(format, point(0, 3.0f, 22.0f)), LogStatus::Ok);
    log.forgetLast();
    QVERIFY(log.takeBackLast());
    QVERIFY(contents(log.files().log) != one);

    // A failed append keeps the numbering.
    QVERIFY(log.create(format) == LogStatus::Ok);
    QCOMPARE(contents(log.files().log), header);
    log.restartNumbering();
    QFile::remove(log.files().rawLog);
    QVERIFY(QDir().mkdir(log.files().rawLog));
    QVERIFY(log.append(format, point(0, 1.0f, 20.0f)) != LogStatus::Ok);
    QCOMPARE(log.lastNumber(), 0);
    QCOMPARE(contents(log.files().log), header);
}

QTEST_GUILESS_MAIN(TestLogFiles)
#include "tst_logfiles.moc"
