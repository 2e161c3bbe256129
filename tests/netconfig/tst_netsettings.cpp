#include "boxfixture.h"
#include "finddialog.h"
#include "testenv.h"

#include <QAction>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

namespace {

const QString kRetry = QStringLiteral("Communication error! Please try againg.");
const QString kNotice = QStringLiteral("IP communication system will be restarted right now!\n"
                                       "This should take about 15 seconds.\n"
                                       "Please reconnect again!");

QStringList warningTexts(const ScriptedDialogs& dialogs)
{
    QStringList texts;
    for (const ScriptedDialogs::Question& q : dialogs.questions())
        texts << q.label;
    return texts;
}

} // namespace

// "Change IP Settings..." against a box whose web server accepts and never
// answers: the window keeps running its event loop all along, and a close
// ends the exchange at once.
class NetSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testenv::isolateSettings(); }
    void silentServer_data();
    void silentServer();
    void runStartedMeanwhileKeepsTheDialogShut();
};

void NetSettingsTest::silentServer_data()
{
    QTest::addColumn<bool>("openedBefore");
    QTest::addColumn<bool>("applying");
    QTest::addColumn<bool>("closeWindow");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("silentFromTheNotice");
    // Each request is cut off by its transfer limit (shortened to 2 s) and
    // warned about once.
    QTest::newRow("reading") << true << false << false << QStringList({kRetry, kRetry}) << 2
                             << false;
    QTest::newRow("applying") << true << true << false
                              << QStringList({kRetry, kNotice, kRetry, "Communication error!"}) << 3
                              << false;
    // Closed after 1 s: the close goes on, nothing more is sent or shown. The
    // first opening is still reading in the dialog's constructor; the applying
    // exchange waits on the save form, with the wait cursor on.
    QTest::newRow("first reading, closed") << false << false << true << QStringList() << 1 << false;
    QTest::newRow("applying, closed")
        << true << true << true << QStringList({kNotice}) << 2 << true;
}

void NetSettingsTest::silentServer()
{
    QFETCH(bool, openedBefore);
    QFETCH(bool, applying);
    QFETCH(bool, closeWindow);
    QFETCH(QStringList, warnings);
    QFETCH(int, requests);
    QFETCH(bool, silentFromTheNotice);
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    w->setWebFormPort(f.box->port(boxsim::Http));
    w->setWebFormTransferLimitMs(2000);
    QVERIFY(f.connectAndWaitForReading());
    auto* action = findIn<QAction>(w, "actionChange_IP_Settings");
    FindDialog* dialog = nullptr;
    if (openedBefore) {
        w->changeIP();
        dialog = w->findChild<FindDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        if (!applying)
            dialog->close();
    }
    f.dialogs.clear();
    f.box->clearRecord();
    auto silence = [&] {
        boxsim::Faults silent;
        silent.silent = true;
        f.box->setFaults(boxsim::Http, silent);
    };
    // Each warning is closed as a real box would be, after its own event loop ran.
    for (int i = 0; i < warnings.size(); ++i) {
        ScriptedDialogs::Answer ok;
        ok.processEventsMs = 50;
        if (silentFromTheNotice)
            ok.before = silence;
        f.dialogs.push(ok);
    }
    if (!silentFromTheNotice)
        silence();

    // A 20 ms timer: the longest time between two of its events is how long
    // the window went without answering. While the readings run, their
    // action is off and the status bar says what the window is doing.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longestGap = 0, closedAt = -1, droppedAt = -1;
    int ticks = 0, actionOn = 0, saysReading = 0;
    bool returned = false;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        longestGap = qMax(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
        ++ticks;
        if (closedAt >= 0 && droppedAt < 0 && f.box->openConnections(boxsim::Http) == 0)
            droppedAt = clock.elapsed();
        if (!returned && clock.elapsed() < 5000) {
            actionOn += action->isEnabled() ? 1 : 0;
            saysReading += w->statusBar()->currentMessage() ==
                                   QLatin1String("Reading the box's network settings...")
                               ? 1
                               : 0;
        }
    });
    if (closeWindow) {
        QTimer::singleShot(1000, this, [&] {
            closedAt = clock.elapsed();
            w->close();
        });
    }
    ticker.start(20);
    if (applying)
        QTest::mouseClick(dialog->submitButton(), Qt::LeftButton);
    else
        w->changeIP();
    const qint64 returnedAt = clock.elapsed();
    returned = true;
    if (closeWindow)
        QVERIFY(f.waitUntil([&] { return droppedAt >= 0; }, 2000));
    ticker.stop();
    qInfo("longest gap of the window's event loop: %lld ms over %lld ms", longestGap, returnedAt);
    QVERIFY2(longestGap < 100, qPrintable(QString::number(longestGap)));
    QVERIFY(ticks > 20);
    if (!applying) {
        QCOMPARE(actionOn, 0);
        QVERIFY(saysReading > 20);
    }

    if (closeWindow) {
        qInfo("the transfer ended %lld ms after the close, the call %lld ms after it",
              droppedAt - closedAt, returnedAt - closedAt);
        // The server sees the connection go within 100 ms; the call returns
        // once the close handler (which switches the gas off) has.
        QVERIFY2(droppedAt - closedAt < 100 * testenv::timingSlack(),
                 qPrintable(QString::number(droppedAt - closedAt)));
        QVERIFY2(returnedAt - closedAt < 1000 * testenv::timingSlack(),
                 qPrintable(QString::number(returnedAt - closedAt)));
        QVERIFY(f.waitUntil([&] { return !f.dialogs.exitCalls().isEmpty(); }, 10000));
        QTest::qWait(300);
    }
    QCOMPARE(warningTexts(f.dialogs), warnings);
    QCOMPARE(f.box->httpRequests().size(), requests);
    QCOMPARE(f.dialogs.overrideCursorDepth(), 0);
    // A reading to its end opens the dialog, an applying one closes it; a
    // close of the window opens none.
    if (!closeWindow || !applying)
        QCOMPARE(w->findChild<FindDialog*>()->isVisible(), !applying && !closeWindow);
    QVERIFY(action->isEnabled());
}

void NetSettingsTest::runStartedMeanwhileKeepsTheDialogShut()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    w->setWebFormPort(f.box->port(boxsim::Http));
    QVERIFY(f.connectAndWaitForReading());
    auto* start = findIn<QToolButton>(w, "autoStartButton");
    // Within the readings or the 500 ms wait after them.
    QTimer::singleShot(200, this, [start] { start->setChecked(true); });
    w->changeIP();
    QVERIFY(start->isChecked());
    QVERIFY(!w->findChild<FindDialog*>()->isVisible());
    QVERIFY(!findIn<QAction>(w, "actionChange_IP_Settings")->isEnabled());
    start->setChecked(false);
    QVERIFY(f.waitUntil([&] { return findIn<QAction>(w, "actionChange_IP_Settings")->isEnabled(); },
                        5000));
}

QTEST_MAIN(NetSettingsTest)
#include "tst_netsettings.moc"
