#include "webforms.h"

#include "ipv4address.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <curl/curl.h>

namespace netconfig {

const char kServerName[] = "BTBOX400-020000B4A7E1";
const char kCommunicationError[] = "Communication error! Please try againg.";
const char kRebootCommunicationError[] = "Communication error!";
const char kRestartNotice[] = "IP communication system will be restarted right now!\n"
                              "This should take about 15 seconds.\n"
                              "Please reconnect again!";

namespace {

static_assert(sizeof(kServerName) == 21 + 1, "the server expects a 21-character name");

// Connection limits in seconds, per request.
constexpr long kGeneralFormConnectS = 4;
constexpr long kNetworkPageConnectS = 6;
constexpr long kNetworkFormConnectS = 6;
constexpr long kSaveFormConnectS = 6;
constexpr long kRebootPageConnectS = 4;

void ensureCurlInitialised()
{
    // libcurl wants its global set-up done once per process, before any other
    // thread could be inside it, and never torn down while the program runs.
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_ALL);
    (void)initialised; // a failed set-up shows up as a failed curl_easy_init()
}

struct TransferState
{
    QByteArray* body = nullptr;
    qint64 limitMs = 0;
    QElapsedTimer sinceRequest; // invalid until connected
    const std::atomic<bool>* cancelled = nullptr;

    bool isCancelled() const { return cancelled && cancelled->load(); }
};

size_t appendBody(char* data, size_t size, size_t count, void* user)
{
    const size_t bytes = size * count;
    static_cast<TransferState*>(user)->body->append(data, int(bytes));
    return bytes;
}

int requestStarting(void* user, char*, char*, int, int)
{
    static_cast<TransferState*>(user)->sinceRequest.start();
    return CURL_PREREQFUNC_OK;
}

// libcurl calls this on every step of the transfer, also while nothing
// arrives; non-zero ends the transfer.
int checkTransferLimit(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* state = static_cast<TransferState*>(user);
    if (state->isCancelled())
        return 1;
    return state->sinceRequest.isValid() && state->sinceRequest.elapsed() > state->limitMs ? 1 : 0;
}

// Runs the transfer in steps of at most kCancelCheckMs, so that a cancel is
// seen as promptly while the connection is being made as later on.
CURLcode perform(CURL* handle, const TransferState& state)
{
    CURLM* multi = curl_multi_init();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    if (curl_multi_add_handle(multi, handle) != CURLM_OK) {
        curl_multi_cleanup(multi);
        return CURLE_FAILED_INIT;
    }
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (!running)
            break;
        if (state.isCancelled()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kCancelCheckMs, nullptr);
    }
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle)
            result = message->data.result;
    }
    curl_multi_remove_handle(multi, handle);
    curl_multi_cleanup(multi);
    return result;
}

// The value of one input field of the network page.
QRegularExpression fieldPattern(const char* field)
{
    // \d takes any Unicode digit, as the page has always been read.
    return QRegularExpression(QLatin1String(field) +
                                  QStringLiteral("\" SIZE=\"15\" MAXLENGTH=\"15\" "
                                                 "VALUE=\"(\\d+\\.\\d+\\.\\d+\\.\\d+)"),
                              QRegularExpression::UseUnicodePropertiesOption);
}

void takeSetting(const QString& page, const QRegularExpression& pattern, QString* target)
{
    const QRegularExpressionMatch match = pattern.match(page);
    if (match.hasMatch())
        *target = match.captured(1);
}

QByteArray formValue(const QString& address)
{
    // Already digits and dots; encoding keeps it that way whatever slips through.
    return QUrl::toPercentEncoding(ipv4::plainDecimal(address));
}

} // namespace

Operator::~Operator() = default;

quint16 webFormPortFrom(const QByteArray& value)
{
    const QByteArray digits = value.trimmed();
    if (digits.isEmpty() || digits.size() > 5)
        return kHttpPort;
    for (char c : digits)
        if (c < '0' || c > '9')
            return kHttpPort;
    const int port = digits.toInt();
    return port >= 1 && port <= 65535 ? quint16(port) : kHttpPort;
}

quint16 webFormPort()
{
    return webFormPortFrom(qgetenv(kWebFormPortVariable));
}

NetworkSettings parseNetworkPage(const QByteArray& page, const NetworkSettings& current)
{
    const QString text =
        QString::fromUtf8(page.constData(), int(qstrnlen(page.constData(), uint(page.size()))));
    // Compiled once: the patterns are fixed.
    static const QRegularExpression ipAddress = fieldPattern("ip_address");
    static const QRegularExpression subnetMask = fieldPattern("subnet_mask");
    static const QRegularExpression defaultGateway = fieldPattern("default_gateway");
    NetworkSettings settings = current;
    takeSetting(text, ipAddress, &settings.ipAddress);
    takeSetting(text, subnetMask, &settings.subnetMask);
    takeSetting(text, defaultGateway, &settings.defaultGateway);
    return settings;
}

QString invalidFieldsMessage(const NetworkSettings& settings)
{
    const struct
    {
        const char* name;
        const QString& text;
    } fields[] = {{"IP", settings.ipAddress},
                  {"Mask", settings.subnetMask},
                  {"Gateway", settings.defaultGateway}};
    QStringList problems;
    for (const auto& field : fields) {
        if (!ipv4::isDottedAddress(field.text))
            problems << QStringLiteral("%1: \"%2\" is not an address.")
                            .arg(QLatin1String(field.name), field.text);
    }
    if (problems.isEmpty())
        return QString();
    problems << QStringLiteral("Enter four numbers from 0 to 255 separated by dots, "
                               "e.g. 192.168.1.251. Nothing was sent to the box.");
    return problems.join(QLatin1Char('\n'));
}

QByteArray generalFormQuery()
{
    return QByteArrayLiteral("g_PortsCount=4&g_GoAfterSubmit=save.html&g_Logged=*&server_name=") +
           QByteArray(kServerName) +
           QByteArrayLiteral("&change_password=&confirm_password=&Submit=Save");
}

QByteArray networkFormQuery(const NetworkSettings& settings)
{
    return QByteArrayLiteral("g_PortsCount=4&g_GoAfterSubmit=save.html&g_Logged=*&ip_address=") +
           formValue(settings.ipAddress) + QByteArrayLiteral("&subnet_mask=") +
           formValue(settings.subnetMask) + QByteArrayLiteral("&default_gateway=") +
           formValue(settings.defaultGateway) + QByteArrayLiteral("&Submit=Save");
}

QByteArray saveFormQuery()
{
    return QByteArrayLiteral("g_PortsCount=4&g_CurrentPort=1&g_GoAfterSubmit=reboot.html"
                             "&g_Logged=*&g_ErrorSave=&Submit=Save");
}

WebFormClient::WebFormClient(const QString& host, quint16 port) : m_host(host), m_port(port) {}

WebFormClient::Transfer WebFormClient::get(const QByteArray& pathAndQuery, long connectLimitSeconds)
{
    ensureCurlInitialised();
    m_response.clear();
    if (isCancelled())
        return Transfer::Cancelled;
    CURL* handle = curl_easy_init();
    if (!handle)
        return Transfer::Skipped;

    TransferState state;
    state.body = &m_response;
    state.limitMs = m_transferLimitMs;
    state.cancelled = m_cancelled;
    const QByteArray url = QByteArrayLiteral("http://") + m_host.toUtf8() + pathAndQuery;

    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_HEADER, 0L);
    curl_easy_setopt(handle, CURLOPT_PORT, long(m_port));
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectLimitSeconds);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &state);
    // The transfer limit runs from the moment the connection stands, so the
    // connection limit above keeps its full length.
    curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, requestStarting);
    curl_easy_setopt(handle, CURLOPT_PREREQDATA, &state);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, checkTransferLimit);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    // The box is on the local network: a proxy from the environment must not
    // see its settings, and the poller threads must not get libcurl's signals.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);

    const CURLcode result = perform(handle, state);
    curl_easy_cleanup(handle);
    if (state.isCancelled())
        return Transfer::Cancelled;
    return result == CURLE_OK ? Transfer::Done : Transfer::Failed;
}

NetworkSettings WebFormClient::read(Operator& op, const NetworkSettings& current)
{
    const QString failed = QString::fromUtf8(kCommunicationError);
    if (get(QByteArrayLiteral("/Forms/general_1?") + generalFormQuery(), kGeneralFormConnectS) ==
        Transfer::Failed)
        op.warn(failed);
    // get() starts from an empty body, so only this page is parsed.
    if (get(QByteArrayLiteral("/network.html"), kNetworkPageConnectS) == Transfer::Failed)
        op.warn(failed);
    return parseNetworkPage(m_response, current);
}

bool WebFormClient::apply(Operator& op, const NetworkSettings& wanted)
{
    const QString invalid = invalidFieldsMessage(wanted);
    if (!invalid.isEmpty()) {
        op.warn(invalid);
        return false;
    }

    const QString failed = QString::fromUtf8(kCommunicationError);
    if (get(QByteArrayLiteral("/Forms/network_1?") + networkFormQuery(wanted),
            kNetworkFormConnectS) == Transfer::Failed)
        op.warn(failed);
    if (isCancelled())
        return false;
    // The new settings only take effect with the save and reboot below, so the
    // operator is told whether or not the form got through.
    op.warn(QString::fromUtf8(kRestartNotice));
    op.setBusy(true);
    if (get(QByteArrayLiteral("/Forms/save_1?") + saveFormQuery(), kSaveFormConnectS) ==
        Transfer::Failed)
        op.warn(failed);
    if (get(QByteArrayLiteral("/reboot.html"), kRebootPageConnectS) == Transfer::Failed)
        op.warn(QString::fromUtf8(kRebootCommunicationError));
    op.setBusy(false);
    return true;
}

} // namespace netconfig
