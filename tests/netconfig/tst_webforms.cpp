#include "ipv4address.h"
#include "webforms.h"
#include "webformstestkit.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

using netconfig::NetworkSettings;
using netconfig::WebFormClient;
using namespace webformstest;

namespace {

// Records what the operator would see, in order.
class RecordingOperator : public netconfig::Operator
{
public:
    QStringList events;
    void warn(const QString& text) override { events << QStringLiteral("warn:") + text; }
    void setBusy(bool busy) override { events << (busy ? "busy" : "idle"); }
};

const QString kRetry = QStringLiteral("warn:Communication error! Please try againg.");

QByteArray field(const char* name, const char* value)
{
    return QByteArray("<INPUT TYPE=\"text\" NAME=\"") + name +
           "\" SIZE=\"15\" MAXLENGTH=\"15\" VALUE=\"" + value + "\">\n";
}

// The general form, with a device name of the expected shape.
bool isGeneralForm(const QByteArray& target)
{
    const QString pattern =
        QRegularExpression::escape(QStringLiteral("/Forms/general_1?g_PortsCount=4&g_GoAfterSubmit="
                                                  "save.html&g_Logged=*&server_name=")) +
        QStringLiteral("[^-&]{8}-[0-9A-Fa-f]{12}") +
        QRegularExpression::escape(
            QStringLiteral("&change_password=&confirm_password=&Submit=Save"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern))
        .match(QString::fromLatin1(target))
        .hasMatch();
}

} // namespace

class TestWebForms : public QObject
{
    Q_OBJECT

private slots:
    void parsePage()
    {
        const NetworkSettings before{"1.1.1.1", "2.2.2.2", "3.3.3.3"};
        const QByteArray full = "<HTML><FORM>" + field("ip_address", "192.168.1.251") +
                                field("subnet_mask", "255.255.255.0") +
                                field("default_gateway", "192.168.1.1") + "</FORM></HTML>";
        NetworkSettings got = netconfig::parseNetworkPage(full, before);
        QCOMPARE(got.ipAddress, QString("192.168.1.251"));
        QCOMPARE(got.subnetMask, QString("255.255.255.0"));
        QCOMPARE(got.defaultGateway, QString("192.168.1.1"));

        // A missing field keeps what was there; the others are still taken.
        got = netconfig::parseNetworkPage(
            field("ip_address", "10.0.0.7") + field("subnet_mask", "255.0.0.0"), before);
        QCOMPARE(got.ipAddress, QString("10.0.0.7"));
        QCOMPARE(got.subnetMask, QString("255.0.0.0"));
        QCOMPARE(got.defaultGateway, before.defaultGateway);

        // Pages that are not the network page change nothing: an error page,
        // other casing, a value that is not four numbers.
        for (const QByteArray& page :
             {QByteArray("<HTML>404 Not Found</HTML>"), QByteArray(),
              QByteArray("ip_address\" size=\"15\" maxlength=\"15\" value=\"9.9.9.9"),
              field("ip_address", "9.9.9") + field("subnet_mask", "")}) {
            got = netconfig::parseNetworkPage(page, before);
            QCOMPARE(got.ipAddress, before.ipAddress);
            QCOMPARE(got.subnetMask, before.subnetMask);
        }

        // The page ends at its first zero byte; the first match wins.
        got = netconfig::parseNetworkPage(field("ip_address", "4.4.4.4") +
                                              field("ip_address", "5.5.5.5") + '\0' +
                                              field("subnet_mask", "6.6.6.6"),
                                          before);
        QCOMPARE(got.ipAddress, QString("4.4.4.4"));
        QCOMPARE(got.subnetMask, before.subnetMask);
    }

    void addressTexts()
    {
        for (const char* good : {"0.0.0.0", "255.255.255.255", "010.001.1.1", "192.168.1.251"})
            QVERIFY2(ipv4::isDottedAddress(good), good);
        for (const char* bad : {"", "1.2.3", "1.2.3.4.5", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4\n",
                                "\n1.2.3.4", "1.2.3.4\r\n", "256.1.1.1", "1.2.3.0256",
                                "1.2.3.4&x=1", "1.2.3.-4", "a.b.c.d", "1..2.3"})
            QVERIFY2(!ipv4::isDottedAddress(bad), bad);
        QCOMPARE(ipv4::plainDecimal("010.001.000.099"), QString("10.1.0.99"));
    }

    void webFormPortFromTheEnvironment()
    {
        // value of BAROTERM_WEBFORM_PORT, port used
        const QList<std::pair<QByteArray, quint16>> cases = {
            {QByteArray(), 80}, {"", 80},      {"8080", 8080}, {" 8080\n", 8080},  {"1", 1},
            {"65535", 65535},   {"0", 80},     {"65536", 80},  {"-8080", 80},      {"+8080", 80},
            {"0x1F90", 80},     {"8080x", 80}, {"80 80", 80},  {"99999999999", 80}};
        for (const auto& [value, port] : cases)
            QVERIFY2(netconfig::webFormPortFrom(value) == port, value.constData());
    }

    void readingTakesTheBoxsSettings()
    {
        auto box = startBox();
        QVERIFY(box);
        WebFormClient client(box->host(), box->port(boxsim::Http));
        RecordingOperator op;
        const NetworkSettings got = client.read(op, NetworkSettings());
        QCOMPARE(op.events, QStringList());
        QCOMPARE(got.ipAddress, QString("192.168.1.251"));
        QCOMPARE(got.subnetMask, QString("255.255.255.0"));
        QCOMPARE(got.defaultGateway, QString("192.168.1.1"));

        const QList<QByteArray> requests = box->httpRequests();
        QCOMPARE(requests.size(), 2);
        QVERIFY2(isGeneralForm(requests.at(0)), requests.at(0).constData());
        QCOMPARE(requests.at(1), QByteArray("/network.html"));
    }

    void silentBoxIsCutOffByTheTransferLimit()
    {
        auto box = startBox();
        QVERIFY(box);
        boxsim::Faults silent;
        silent.silent = true;
        box->setFaults(boxsim::Http, silent);

        // The limit the program uses, on one request.
        WebFormClient client(box->host(), box->port(boxsim::Http));
        QCOMPARE(client.transferLimitMs(), 5000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(client.get("/network.html", 6), WebFormClient::Transfer::Failed);
        qint64 took = clock.elapsed();
        QVERIFY2(took >= 4900 && took < 7500, QByteArray::number(took).constData());

        // A whole reading, with a shorter limit: each step fails and says so.
        client.setTransferLimitMs(500);
        RecordingOperator op;
        clock.restart();
        const NetworkSettings before{"1.1.1.1", "2.2.2.2", "3.3.3.3"};
        const NetworkSettings got = client.read(op, before);
        took = clock.elapsed();
        QCOMPARE(op.events, QStringList({kRetry, kRetry}));
        QCOMPARE(got.ipAddress, before.ipAddress);
        QVERIFY2(took >= 1000 && took < 4500, QByteArray::number(took).constData());
        QCOMPARE(box->httpRequests().size(), 3); // every request reached the box
    }
};

QTEST_GUILESS_MAIN(TestWebForms)
#include "tst_webforms.moc"
