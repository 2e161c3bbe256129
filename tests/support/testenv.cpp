#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <atomic>

namespace testenv {

void isolateSettings()
{
    static QTemporaryDir dir; // lives as long as the test process
    const QString path = dir.path();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
}

QString uniqueLoopbackHost()
{
    static std::atomic<int> counter{0};
    const qint64 pid = QCoreApplication::applicationPid();
    const int n = counter++;
    // 127.(1..250).(0..249).(1..250): the second octet never 0, so never 127.0.0.1.
    const int b = 1 + int((pid / 250) % 250);
    const int c = int(pid % 250);
    const int d = 1 + (n % 250);
    return QStringLiteral("127.%1.%2.%3").arg(b).arg(c).arg(d);
}

int timingSlack()
{
    bool ok = false;
    const int slack = qEnvironmentVariableIntValue("BAROTERM_TIMING_SLACK", &ok);
    return ok && slack > 0 ? slack : 1;
}

} // namespace testenv
