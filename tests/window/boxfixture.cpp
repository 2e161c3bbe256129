#include "boxfixture.h"

#include "boxlink.h"
#include "boxsession.h"
#include "testenv.h"

#include <QDeadlineTimer>
#include <QLineEdit>
#include <QSettings>
#include <QtTest>

BoxFixture::BoxFixture()
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelvra"),
              QStringLiteral("Baroterm"))
        .clear();
}

BoxFixture::~BoxFixture()
{
    window.reset();
    box.reset();
}

boxsim::Options BoxFixture::fastOptions()
{
    boxsim::Options options;
    options.httpPort = 0;
    options.timeScale = 50.0;
    options.cameraDelayMs = 50;
    return options;
}

boxsim::BoxSimulator* BoxFixture::startBox(boxsim::Options options)
{
    host = testenv::uniqueLoopbackHost();
    options.host = host;
    box = std::make_unique<boxsim::BoxSimulator>(options);
    QString error;
    if (!box->start(&error)) {
        qWarning("box simulator did not start: %s", qPrintable(error));
        return nullptr;
    }
    return box.get();
}

TempSensor* BoxFixture::makeWindow()
{
    window = std::make_unique<TempSensor>();
    if (sessionSpeedUp != 1.0)
        window->findChild<BoxSession*>()->speedUp(sessionSpeedUp);
    return window.get();
}

void BoxFixture::enterAddress(const QString& text)
{
    dialogs.pushAccept(text);
    window->setIPAddress();
}

bool BoxFixture::connectAndWaitForReading(int timeoutMs)
{
    enterAddress(host);
    auto* curT = findIn<QLineEdit>(window.get(), "curT");
    return waitUntil([curT] { return curT->text() != QLatin1String("n/a"); }, timeoutMs);
}

int BoxFixture::mark(boxsim::Device device) const
{
    return box->frames(device).size();
}

QList<QByteArray> BoxFixture::framesSince(boxsim::Device device, int fromIndex) const
{
    QList<QByteArray> result;
    const QList<boxsim::Frame> frames = box->frames(device);
    for (int i = fromIndex; i < frames.size(); ++i)
        result.append(frames[i].bytes);
    return result;
}

int BoxFixture::eventMark() const
{
    return box->events().size();
}

QList<quint64> BoxFixture::connectionsSince(boxsim::Device device, int fromEvent) const
{
    QList<quint64> result;
    const QList<boxsim::Event> events = box->events();
    for (int i = fromEvent; i < events.size(); ++i) {
        if (events[i].device == device && events[i].kind == boxsim::Event::Connected)
            result.append(events[i].connection);
    }
    return result;
}

bool BoxFixture::portWasExclusive(boxsim::Device device, quint64 command) const
{
    // The simulator handles each connection's events as its thread gets to
    // them, so a close and the next connection's first bytes may be seen in
    // either order within a few milliseconds. Beyond that, no other
    // connection may open or send while the command's is open.
    constexpr qint64 kSeenOutOfOrderMs = 10;
    const QList<boxsim::Event> events = box->events(device);
    qint64 openedAt = -1, closedAt = -1;
    for (const boxsim::Event& e : events) {
        if (e.connection != command)
            continue;
        if (e.kind == boxsim::Event::Connected)
            openedAt = e.msecs;
        else if (e.kind == boxsim::Event::Disconnected)
            closedAt = e.msecs;
    }
    if (openedAt < 0)
        return false;
    bool seenOpen = false;
    for (const boxsim::Event& e : events) {
        if (e.connection == command) {
            if (e.kind == boxsim::Event::Connected)
                seenOpen = true;
            else if (e.kind == boxsim::Event::Disconnected)
                return true;
            continue;
        }
        // A connection closed before the command's may be seen closing after it.
        if (!seenOpen || e.kind == boxsim::Event::Disconnected)
            continue;
        if (closedAt < 0 || closedAt - e.msecs > kSeenOutOfOrderMs)
            return false;
    }
    return true;
}

bool BoxFixture::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        boxlink::processEventsFor(10);
    }
    return true;
}

QByteArray hex(const char* spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}
