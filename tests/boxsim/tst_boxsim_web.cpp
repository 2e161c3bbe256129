// The serial device server's web forms.

#include "boxsimulator.h"
#include "rawclient.h"
#include "testenv.h"

#include <QRegularExpression>
#include <QtTest>

using namespace boxsim;

namespace {

// What the program's network dialog searches the page for.
QString setting(const QByteArray& page, const char* name)
{
    const QRegularExpression re(
        QString::fromLatin1(name) +
        QStringLiteral("\" SIZE=\"15\" MAXLENGTH=\"15\" VALUE=\"(\\d+\\.\\d+\\.\\d+\\.\\d+)"));
    return re.match(QString::fromUtf8(page)).captured(1);
}

QByteArray body(const QByteArray& response)
{
    const int end = response.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : response.mid(end + 4);
}

Options webOptions()
{
    Options o;
    o.host = testenv::uniqueLoopbackHost();
    o.httpPort = 0;
    return o;
}

} // namespace

class TestBoxsimWeb : public QObject
{
    Q_OBJECT

private slots:
    void readAndApplySettings();
    void unusualRequests();
    void faults();
};

void TestBoxsimWeb::readAndApplySettings()
{
    const Options o = webOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    const quint16 port = sim.port(Http);
    QVERIFY(port != 0);

    // Reading: the general form, then the network page with the defaults.
    const QByteArray general = "/Forms/general_1?g_PortsCount=4&g_GoAfterSubmit=save.html"
                               "&g_Logged=*&server_name=BX100-42-0090C2A1B2C3"
                               "&change_password=&confirm_password=&Submit=Save";
    QVERIFY(httpGet(o.host, port, general).startsWith("HTTP/1.0 200 OK\r\n"));
    QByteArray page = httpGet(o.host, port, "/network.html");
    QVERIFY(page.startsWith("HTTP/1.0 200 OK\r\n"));
    QVERIFY(page.contains("Content-Length: " + QByteArray::number(body(page).size()) + "\r\n"));
    QCOMPARE(setting(page, "ip_address"), QStringLiteral("192.168.1.251"));
    QCOMPARE(setting(page, "subnet_mask"), QStringLiteral("255.255.255.0"));
    QCOMPARE(setting(page, "default_gateway"), QStringLiteral("192.168.1.1"));

    // Applying: the network form (percent escapes decoded), save, reboot.
    const QByteArray network = "/Forms/network_1?g_PortsCount=4&g_GoAfterSubmit=save.html"
                               "&g_Logged=*&ip_address=10.0.0.7&subnet_mask=255.255.0.0"
                               "&default_gateway=10.0.%30.1&Submit=Save";
    const QByteArray save = "/Forms/save_1?g_PortsCount=4&g_CurrentPort=1&g_GoAfterSubmit="
                            "reboot.html&g_Logged=*&g_ErrorSave=&Submit=Save";
    QVERIFY(httpGet(o.host, port, network).startsWith("HTTP/1.0 200"));
    QVERIFY(httpGet(o.host, port, save).startsWith("HTTP/1.0 200"));
    QVERIFY(httpGet(o.host, port, "/reboot.html").startsWith("HTTP/1.0 200"));
    QCOMPARE(sim.networkSettings().ipAddress, QStringLiteral("10.0.0.7"));
    QCOMPARE(sim.networkSettings().defaultGateway, QStringLiteral("10.0.0.1"));

    page = httpGet(o.host, port, "/network.html");
    QCOMPARE(setting(page, "ip_address"), QStringLiteral("10.0.0.7"));
    QCOMPARE(setting(page, "subnet_mask"), QStringLiteral("255.255.0.0"));
    QCOMPARE(setting(page, "default_gateway"), QStringLiteral("10.0.0.1"));

    QCOMPARE(sim.httpRequests(), QList<QByteArray>({general, "/network.html", network, save,
                                                    "/reboot.html", "/network.html"}));
    QCOMPARE(sim.frames(Http).size(), 6);
}

void TestBoxsimWeb::unusualRequests()
{
    const Options o = webOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    const quint16 port = sim.port(Http);

    // A raw blank inside the target (the program does not encode the values)
    // is kept in the record; a missing field keeps its old value.
    const QByteArray target = "/Forms/network_1?ip_address=10.1.2.3 &subnet_mask=255.0.0.0";
    QVERIFY(httpGet(o.host, port, target).startsWith("HTTP/1.0 200"));
    QCOMPARE(sim.httpRequests().value(0), target);
    QCOMPARE(sim.networkSettings().ipAddress, QStringLiteral("10.1.2.3 "));
    QCOMPARE(sim.networkSettings().defaultGateway, QStringLiteral("192.168.1.1"));

    // A value that is not an address still goes into the page, escaped, and no
    // longer matches the dialog's pattern.
    QVERIFY(httpGet(o.host, port, "/Forms/network_1?ip_address=%22x%3C").startsWith("HTTP"));
    const QByteArray page = httpGet(o.host, port, "/network.html");
    QVERIFY(page.contains("VALUE=\"&quot;x&lt;\""));
    QCOMPARE(setting(page, "ip_address"), QString());

    QVERIFY(httpGet(o.host, port, "/nothing.html").startsWith("HTTP/1.0 404"));
    // A request that arrives in pieces is answered once it is complete.
    sim.clearRecord();
    RawClient c;
    QVERIFY(c.open(o.host, port));
    c.send("GET /reboot.html HT");
    QVERIFY(sim.waitForEvent([](const Event& e) { return e.kind == Event::Data; }, 2000));
    c.send("TP/1.0\r\n\r\n");
    QVERIFY(c.waitClosed());
    QVERIFY(c.pending().startsWith("HTTP/1.0 200"));
}

void TestBoxsimWeb::faults()
{
    const Options o = webOptions();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    const quint16 port = sim.port(Http);
    Faults f;
    f.refuse = true;
    sim.setFaults(Http, f);
    QCOMPARE(httpGet(o.host, port, "/network.html"), QByteArray());
    QCOMPARE(sim.httpRequests().size(), 0);

    // Silent: the request is taken and recorded, the connection stays open, no answer.
    f = Faults();
    f.silent = true;
    sim.setFaults(Http, f);
    RawClient c;
    QVERIFY(c.open(o.host, port));
    c.send("GET /network.html HTTP/1.0\r\n\r\n");
    QVERIFY(sim.waitForFrames(Http, 1, 2000));
    QCOMPARE(c.readFor(150), QByteArray());
    QCOMPARE(c.socket.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(sim.openConnections(Http), 1);
}

QTEST_GUILESS_MAIN(TestBoxsimWeb)
#include "tst_boxsim_web.moc"
