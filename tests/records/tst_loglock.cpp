#include "loglock.h"

#include <QtTest>

using records::LogLock;

class LogLockTest : public QObject
{
    Q_OBJECT
private slots:
    void holderNamed_data();
    void holderNamed();
    void oneRunAtATime();
    void lockFileLeftBehind();
    void nowhereToLock();
};

void LogLockTest::holderNamed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("holder"); // 0: none named

    QTest::newRow("as written") << records::lockFileText(4711) << qint64(4711);
    QTest::newRow("large id") << QByteArray("4194304\n") << qint64(4194304);
    QTest::newRow("not written yet") << QByteArray() << qint64(0);
    QTest::newRow("cut short") << QByteArray("47") << qint64(0);
    QTest::newRow("no digits") << QByteArray("\n") << qint64(0);
    QTest::newRow("zero") << QByteArray("0\n") << qint64(0);
    QTest::newRow("sign") << QByteArray("-12\n") << qint64(0);
    QTest::newRow("plus") << QByteArray("+12\n") << qint64(0);
    QTest::newRow("blank") << QByteArray(" 12\n") << qint64(0);
    QTest::newRow("text") << QByteArray("run\n") << qint64(0);
    QTest::newRow("beyond 64 bits") << QByteArray("99999999999999999999\n") << qint64(0);
}

void LogLockTest::holderNamed()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, holder);
    QCOMPARE(records::lockHolderOf(text).value_or(0), holder);
}

// A second lock on the same log is refused (each lock opens the file on its
// own, as two processes do) and names this process; once let go, the log is
// free again and no lock file is left.
void LogLockTest::oneRunAtATime()
{
    QTemporaryDir dir;
    const QString log = dir.filePath("run1.csv");
    const QString lockFile = records::lockPathFor(log);
    QCOMPARE(lockFile, dir.filePath("run1.csv.lock"));

    LogLock first;
    QCOMPARE(first.acquire(log), LogLock::State::Held);
    QVERIFY(first.held());
    QFile file(lockFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), records::lockFileText(QCoreApplication::applicationPid()));

    LogLock second;
    QCOMPARE(second.acquire(log), LogLock::State::Busy);
    QVERIFY(!second.held());
    QCOMPARE(second.holder(), std::optional<qint64>(QCoreApplication::applicationPid()));
    // Another log beside it is free.
    QCOMPARE(second.acquire(dir.filePath("run2.csv")), LogLock::State::Held);
    second.release();

    // Taking another log lets go of the first.
    QCOMPARE(first.acquire(dir.filePath("run3.csv")), LogLock::State::Held);
    QVERIFY(!QFile::exists(lockFile));
    QCOMPARE(second.acquire(log), LogLock::State::Held);
    second.release();
    first.release();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

// A run that died leaves its lock file unlocked: the next run takes it over.
void LogLockTest::lockFileLeftBehind()
{
    QTemporaryDir dir;
    const QString log = dir.filePath("run1.csv");
    QFile left(records::lockPathFor(log));
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.write("99999999\n");
    left.close();
    LogLock lock;
    QCOMPARE(lock.acquire(log), LogLock::State::Held);
    QVERIFY(left.open(QIODevice::ReadOnly));
    QCOMPARE(left.readAll(), records::lockFileText(QCoreApplication::applicationPid()));
}

// A folder that is not there: no lock, and nothing claims the log is taken.
void LogLockTest::nowhereToLock()
{
    QTemporaryDir dir;
    LogLock lock;
    QCOMPARE(lock.acquire(dir.filePath("gone/run1.csv")), LogLock::State::Unavailable);
    QVERIFY(!lock.held());
    QVERIFY(!lock.errorString().isEmpty());
    QVERIFY(!lock.holder());
}

QTEST_GUILESS_MAIN(LogLockTest)
#include "tst_loglock.moc"
