// "Share Live View...": the live view served as a read-only web page, from
// the settings or the command line.
#include "tempsensor.h"

#include "access.h"
#include "monitorserver.h"
#include "operatordialogs.h"
#include "sessionsource.h"

#include <QSettings>

namespace {

const char* const kShareOn = "monitor/shared";
const char* const kShareAddress = "monitor/address";
const char* const kSharePort = "monitor/port";
constexpr int kShareWarningMs = 10000;

} // namespace

std::optional<monitor::Endpoint> shareEndpoint(const ShareChoice& choice)
{
    monitor::Endpoint endpoint;
    if (!endpoint.address.setAddress(choice.address.trimmed()) || choice.port < 1 ||
        choice.port > 65535)
        return std::nullopt;
    endpoint.port = quint16(choice.port);
    return endpoint;
}

ShareChoice TempSensor::storedShare() const
{
    ShareChoice choice;
    choice.on = settings->value(QLatin1String(kShareOn), false).toBool();
    choice.address = settings->value(QLatin1String(kShareAddress), choice.address).toString();
    choice.port = settings->value(QLatin1String(kSharePort), choice.port).toInt();
    return choice;
}

void TempSensor::startSharing(const std::optional<monitor::Endpoint>& commandLine,
                              const QString& keyFile)
{
    monitorKeyFile = keyFile;
    if (!commandLine) {
        applyShare(storedShare());
        return;
    }
    // The command line wins over the settings, and leaves them as they are.
    ShareChoice choice;
    choice.on = true;
    choice.address = commandLine->address.toString();
    choice.port = commandLine->port;
    applyShare(choice);
}

QString TempSensor::sharedPageAddress(const ShareChoice& choice)
{
    const std::optional<monitor::Endpoint> endpoint = shareEndpoint(choice);
    if (!choice.on || !endpoint)
        return QString();
    const monitor::KeyFile key = monitor::accessKeyFor(*endpoint, monitorKeyFile, *settings);
    return key.error.isEmpty() ? monitor::pageAddress(*endpoint, key.key) : QString();
}

void TempSensor::applyShare(const ShareChoice& choice)
{
    shared = choice;
    if (monitorServer)
        monitorServer->stop();
    if (!choice.on)
        return;
    const std::optional<monitor::Endpoint> endpoint = shareEndpoint(choice);
    if (!endpoint) {
        showWarningStatus(tr("Live view not shared: \"%1\" port %2 is no address to serve at")
                              .arg(choice.address)
                              .arg(choice.port),
                          kShareWarningMs);
        return;
    }
    const monitor::KeyFile key = monitor::accessKeyFor(*endpoint, monitorKeyFile, *settings);
    if (!key.error.isEmpty()) {
        showWarningStatus(tr("Live view not shared: %1").arg(key.error), kShareWarningMs);
        return;
    }
    if (!monitorServer) {
        monitorSource = std::make_unique<monitor::SessionSource>(*session);
        monitorServer = std::make_unique<monitor::MonitorServer>(*monitorSource);
    }
    const QString error = monitorServer->start(endpoint->address, endpoint->port, key.key);
    if (!error.isEmpty())
        showWarningStatus(tr("Live view not shared: %1").arg(error), kShareWarningMs);
}

bool TempSensor::liveViewShared() const
{
    return monitorServer && monitorServer->isListening();
}

void TempSensor::shareLiveView()
{
    ShareChoice choice = shared;
    if (!OperatorDialogs::instance().shareLiveView(
            this, &choice, [this](const ShareChoice& c) { return sharedPageAddress(c); }))
        return;
    settings->setValue(QLatin1String(kShareOn), choice.on);
    settings->setValue(QLatin1String(kShareAddress), choice.address);
    settings->setValue(QLatin1String(kSharePort), choice.port);
    applyShare(choice);
}
