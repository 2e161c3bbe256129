// baroterm-run's monitor, the program a process of its own against the box
// simulator in this process: the page's data follows the box, and a key file
// asks the key on the loopback too; a monitor that can't listen stops the
// program before anything reaches the box.
#include "boxsimulator.h"
#include "httpexchange.h"
#include "testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <optional>

namespace {

const QByteArray kPreset = "[Main]\nUNITS=Bar\nWAIT_CAMERA_FEEDBACK=true\n"
                           "[Auto]\nAUTO_T_ON=false\nAUTO_P_ON=true\nAUTO_P_FROM=1\nAUTO_P_TO=2\n"
                           "AUTO_P_DELTA=1\n";

// A port nobody listens on now.
quint16 freePort(const QString& host)
{
    QTcpServer probe;
    return probe.listen(QHostAddress(host), 0) ? probe.serverPort() : 0;
}

// The samples of the exposition format, by name and labels; none when a line
// is no comment and no sample.
std::optional<QMap<QString, double>> metricSamples(const QByteArray& text)
{
    QMap<QString, double> samples;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const int space = line.lastIndexOf(' ');
        bool ok = false;
        const double value = line.mid(space + 1).toDouble(&ok);
        if (space <= 0 || (!ok && line.mid(space + 1) != "NaN"))
            return std::nullopt;
        samples.insert(QString::fromUtf8(line.left(space)), ok ? value : std::nan(""));
    }
    return samples;
}

} // namespace

class MonitorRunTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_host;
    std::unique_ptr<boxsim::BoxSimulator> m_box;

    // The simulator answers from this thread: every wait runs its event loop.
    bool waitFor(const std::function<bool()>& condition, int ms) const
    {
        return m_box->waitFor(condition, ms * testenv::timingSlack());
    }

    QStringList runArguments(const QString& name, const QString& monitor) const
    {
        return {"--box",
                m_host,
                "--preset",
                m_dir.filePath("grid.ini"),
                "--log",
                m_dir.filePath(name + ".csv"),
                "--monitor",
                monitor,
                "--monitor-key-file",
                m_dir.filePath("monitor.key")};
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pageDataFollowsTheBox();
    void portInUseStopsBeforeTheBox();
};

void MonitorRunTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile preset(m_dir.filePath("grid.ini"));
    QVERIFY(preset.open(QIODevice::WriteOnly));
    preset.write(kPreset);
    preset.close();
    m_host = testenv::uniqueLoopbackHost();
    boxsim::Options options;
    options.host = m_host;
    options.httpPort = 0;
    // The sample stays near where it is put for the test's few seconds.
    options.timeScale = 1.0;
    m_box = std::make_unique<boxsim::BoxSimulator>(options);
    QString error;
    QVERIFY2(m_box->start(&error), qPrintable(error));
}

void MonitorRunTest::cleanupTestCase()
{
    m_box.reset();
}

void MonitorRunTest::pageDataFollowsTheBox()
{
    const quint16 port = freePort(m_host);
    QVERIFY(port != 0);
    QProcess run;
    run.start(QStringLiteral(BAROTERM_RUN_PROGRAM),
              runArguments("follows", m_host + ':' + QString::number(port)));
    QByteArray err;
    QVERIFY(waitFor(
        [&] {
            err += run.readAllStandardError();
            return err.contains("Monitor page: ") || run.state() == QProcess::NotRunning;
        },
        10000));
    // The key file was made for the run, readable by its owner alone.
    QFile keyFile(m_dir.filePath("monitor.key"));
    QVERIFY2(keyFile.open(QIODevice::ReadOnly), err.constData());
    QCOMPARE(keyFile.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    const QByteArray key = keyFile.readAll().trimmed();
    QVERIFY(
        err.contains(QStringLiteral("http://%1:%2/?key=").arg(m_host).arg(port).toUtf8() + key));

    const Answer refused = exchange(m_host, port, get("/api/status"));
    QCOMPARE(refused.status, 401);
    QVERIFY(!refused.body.contains("temperature"));

    // The temperature shown is the box's, the run started and its grid is the preset's.
    m_box->setSampleTemperatureC(31.4);
    QJsonObject status;
    QVERIFY(waitFor(
        [&] {
            const Answer a = exchange(m_host, port, get("/api/status?key=" + key));
            status = QJsonDocument::fromJson(a.body).object();
            const QJsonObject run = status.value("run").toObject();
            return a.status == 200 && run.value("started").toBool() &&
                   std::abs(status.value("readings").toObject().value("T").toDouble() - 31.4) < 0.5;
        },
        10000));
    const QJsonObject box = status.value("box").toObject();
    QCOMPARE(box.value("address").toString(), m_host);
    QCOMPARE(box.value("log").toString(), QStringLiteral("follows.csv"));
    QCOMPARE(box.value("devices").toArray().at(0).toObject().value("connected").toBool(), true);
    const QJsonObject runState = status.value("run").toObject();
    QCOMPARE(runState.value("points").toInt(), 2);
    QVERIFY(!runState.value("phase").toString().isEmpty());

    const Answer metrics = exchange(m_host, port, get("/metrics?key=" + key));
    QCOMPARE(metrics.status, 200);
    const auto samples = metricSamples(metrics.body);
    QVERIFY2(samples, metrics.body.constData());
    QVERIFY(std::abs(samples->value("baroterm_temperature_celsius") - 31.4) < 1.0);
    QCOMPARE(samples->value("baroterm_run_points"), 2.0);
    QCOMPARE(samples->value("baroterm_device_up{device=\"temperature\"}"), 1.0);

    // A point done is one the box pulsed for, and counted in the metrics too.
    QVERIFY(waitFor(
        [&] {
            const Answer a = exchange(m_host, port, get("/api/status?key=" + key));
            status = QJsonDocument::fromJson(a.body).object();
            return status.value("run").toObject().value("pointsDone").toInt() >= 1;
        },
        15000));
    QVERIFY(!m_box->pulseTruth().isEmpty());
    const auto after = metricSamples(exchange(m_host, port, get("/metrics?key=" + key)).body);
    QVERIFY(after && after->value("baroterm_pulses_sent_total") >= 1.0 &&
            after->value("baroterm_records_written_total") >= 1.0);

    ::kill(pid_t(run.processId()), SIGTERM);
    const bool ended = waitFor([&] { return run.state() == QProcess::NotRunning; }, 10000);
    QVERIFY2(ended, (err + run.readAllStandardError()).constData());
}

void MonitorRunTest::portInUseStopsBeforeTheBox()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(m_host), 0));
    m_box->clearRecord();
    QProcess run;
    run.start(QStringLiteral(BAROTERM_RUN_PROGRAM),
              runArguments("taken", m_host + ':' + QString::number(taken.serverPort())));
    QVERIFY(waitFor([&] { return run.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(run.exitCode(), 2);
    QVERIFY(run.readAllStandardError().contains("--monitor: "));
    QVERIFY(m_box->events().isEmpty());
    QVERIFY(!QFile::exists(m_dir.filePath("taken.csv")));
}

QTEST_GUILESS_MAIN(MonitorRunTest)
#include "tst_monitorrun.moc"
