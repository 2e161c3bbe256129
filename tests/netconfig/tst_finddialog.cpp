#include "finddialog.h"
#include "scripteddialogs.h"
#include "webformstestkit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace webformstest;

namespace {

const QString kRetry = QStringLiteral("Communication error! Please try againg.");
const QString kNotice = QStringLiteral("IP communication system will be restarted right now!\n"
                                       "This should take about 15 seconds.\n"
                                       "Please reconnect again!");

QStringList warningTexts(const ScriptedDialogs& dialogs)
{
    QStringList texts;
    for (const ScriptedDialogs::Question& q : dialogs.questions()) {
        texts << q.label;
        // Every box of the exchange: a parentless "Warning" with one OK button.
        if (q.kind != QLatin1String("warning") || q.hasParent || q.title != "Warning" ||
            q.args.value(0).toInt() != int(QMessageBox::Ok))
            texts << QStringLiteral("<unexpected box: %1 %2>").arg(q.kind, q.title);
    }
    return texts;
}

void setEdits(FindDialog& dialog, const QString& ip, const QString& mask, const QString& gateway)
{
    dialog.ipEdit()->setText(ip);
    dialog.maskEdit()->setText(mask);
    dialog.gatewayEdit()->setText(gateway);
}

} // namespace

class TestFindDialog : public QObject
{
    Q_OBJECT

private slots:
    void unreachableBoxThenConnected()
    {
        auto box = startBox();
        QVERIFY(box);
        const quint16 port = box->port(boxsim::Http);
        ScriptedDialogs dialogs;
        // Created while the window's address has no box behind it.
        FindDialog dialog(testenv::uniqueLoopbackHost(), nullptr, port);
        setEdits(dialog, "10.0.0.2", "255.0.0.0", "10.0.0.1");
        dialog.readNetworkSettings(); // the first opening reads a second time
        QCOMPARE(warningTexts(dialogs), QStringList({kRetry, kRetry, kRetry, kRetry}));
        QCOMPARE(dialog.ipEdit()->text(), QString("10.0.0.2"));

        dialog.show();
        dialogs.clear();
        QTest::mouseClick(dialog.submitButton(), Qt::LeftButton);
        QCOMPARE(warningTexts(dialogs),
                 QStringList({kRetry, kNotice, kRetry, QStringLiteral("Communication error!")}));
        // The wait cursor is on from the save form to the end.
        QCOMPARE(dialogs.cursorDepthAtQuestions(), QList<int>({0, 0, 1, 1}));
        QCOMPARE(dialogs.overrideCursorDepth(), 0);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(box->httpRequests().size(), 0);

        // The window has connected to the box since.
        dialogs.clear();
        dialog.setBoxAddress(box->host());
        dialog.readNetworkSettings();
        QCOMPARE(dialog.ipEdit()->text(), QString("192.168.1.251"));
        // The box's settings change between two readings: the later page wins.
        netconfig::WebFormClient other(box->host(), port);
        QCOMPARE(other.get(networkForm("172.16.0.5", "255.255.0.0", "172.16.0.1"), 6),
                 netconfig::WebFormClient::Transfer::Done);
        dialog.readNetworkSettings();
        QCOMPARE(dialog.ipEdit()->text(), QString("172.16.0.5"));
        QCOMPARE(dialog.maskEdit()->text(), QString("255.255.0.0"));
        QCOMPARE(dialog.gatewayEdit()->text(), QString("172.16.0.1"));
        QCOMPARE(dialogs.questions().size(), 0);
    }

    void enterSubmitsAndTheBoxRestartsWithTheNewSettings()
    {
        auto box = startBox();
        QVERIFY(box);
        ScriptedDialogs dialogs;
        FindDialog dialog(box->host(), nullptr, box->port(boxsim::Http));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, 2000));
        QCOMPARE(dialog.size(), QSize(170, 150));
        QCOMPARE(dialog.windowTitle(), QString("Change IP Settings"));
        QCOMPARE(dialog.findChild<QLineEdit*>("ipEdit")->text(), QString("192.168.1.251"));
        box->clearRecord();
        setEdits(dialog, "192.168.002.010", "255.255.255.128", "192.168.2.1");
        QTest::keyClick(dialog.maskEdit(), Qt::Key_Return);

        QVERIFY(!dialog.isVisible());
        QCOMPARE(warningTexts(dialogs), QStringList({kNotice}));
        QCOMPARE(dialogs.cursorDepthAtQuestions(), QList<int>({0}));
        QCOMPARE(dialogs.overrideCursorDepth(), 0);
        QCOMPARE(box->httpRequests(),
                 QList<QByteArray>(
                     {networkForm("192.168.2.10", "255.255.255.128", "192.168.2.1"),
                      "/Forms/save_1?g_PortsCount=4&g_CurrentPort=1&g_GoAfterSubmit=reboot.html"
                      "&g_Logged=*&g_ErrorSave=&Submit=Save",
                      "/reboot.html"}));
        QCOMPARE(box->networkSettings().ipAddress, QString("192.168.2.10"));
        QCOMPARE(box->networkSettings().subnetMask, QString("255.255.255.128"));
        QCOMPARE(box->networkSettings().defaultGateway, QString("192.168.2.1"));
    }

    void badTextSendsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("second field smuggled in") << "1.2.3.4&x=1";
        QTest::newRow("three octets") << "1.2.3";
        QTest::newRow("leading blank") << " 1.2.3.4";
        QTest::newRow("octet out of range") << "256.1.1.1";
    }

    void badTextSendsNothing()
    {
        QFETCH(QString, text);
        auto box = startBox();
        QVERIFY(box);
        ScriptedDialogs dialogs;
        FindDialog dialog(box->host(), nullptr, box->port(boxsim::Http));
        dialog.show();
        box->clearRecord();
        dialog.maskEdit()->setText(text);
        QTest::mouseClick(dialog.submitButton(), Qt::LeftButton);

        QCOMPARE(dialogs.count("warning"), 1);
        const QString warning = dialogs.last().label;
        QVERIFY2(warning.contains("Mask: \"" + text + "\"") && !warning.contains("IP:") &&
                     !warning.contains("Gateway:"),
                 qPrintable(warning));
        QVERIFY(dialog.isVisible()); // open for the operator to correct

        // Cancel sends nothing either and keeps the edits for the next opening.
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.maskEdit()->text(), text);
        QCOMPARE(dialogs.count("warning"), 1);
        QCOMPARE(box->httpRequests(), QList<QByteArray>());
        QCOMPARE(box->networkSettings().subnetMask, QString("255.255.255.0"));
    }
};

QTEST_MAIN(TestFindDialog)
#include "tst_finddialog.moc"
