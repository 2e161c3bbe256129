// The live view against the simulated box: opened from the settings menu,
// trends that grow, marks for records and warnings, the progress grid and the
// phase texts during a short run, the export, and the page it is shared as.
#include "httpexchange.h"
#include "liveview.h"
#include "resourcesinit.h"
#include "runharness.h"
#include "testenv.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtTest>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
using QtCharts::QLegendMarker;
#endif

using boxsim::Device;

namespace {

// The grid as the view shows it: one letter a cell, W(aiting) C(urrent) D(one).
QString gridStates(const LiveView* view)
{
    const QTableWidget* grid = view->progressGrid();
    QStringList rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QString row;
        for (int c = 0; c < grid->columnCount(); ++c) {
            const QVariant state =
                grid->item(r, c) ? grid->item(r, c)->data(Qt::UserRole) : QVariant();
            row += state.isValid() ? QChar("WCD"[state.toInt()]) : QChar('.');
        }
        rows << row;
    }
    return rows.join(' ');
}

QString headings(const QTableWidget* grid, Qt::Orientation orientation)
{
    const int count = orientation == Qt::Horizontal ? grid->columnCount() : grid->rowCount();
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << grid->model()->headerData(i, orientation).toString();
    return out.join('|');
}

// The legend entries the charts show, over all of them.
QStringList chartLegends(const LiveView* view)
{
    QStringList names;
    for (const QChartView* chartView : view->findChildren<QChartView*>()) {
        for (const QLegendMarker* marker : chartView->chart()->legend()->markers()) {
            if (marker->isVisible())
                names << marker->label();
        }
    }
    return names;
}

} // namespace

class LiveViewTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void actionSitsAboveExit();
    void shortRunDrawnAndExported();
    void sharedAsAPage();
};

void LiveViewTest::initTestCase()
{
    testenv::isolateSettings();
    BoxFixture::defaultSessionSpeedUp = 4;
    registerBarotermResources();
}

void LiveViewTest::actionSitsAboveExit()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    auto* action = w->findChild<QAction*>(QStringLiteral("actionLive_View"));
    QVERIFY(action);
    QCOMPARE(action->text(), QStringLiteral("Live View..."));
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+L")));
    const QList<QAction*> entries = w->menuBar()->actions()[0]->menu()->actions();
    const int at = entries.indexOf(action);
    QVERIFY(at > 0 && at + 2 < entries.size());
    QCOMPARE(entries[at - 1]->objectName(), QStringLiteral("actionAlways_on_top"));
    QCOMPARE(entries[at + 1]->objectName(), QStringLiteral("actionShare_Live_View"));
    QCOMPARE(entries[at + 1]->text(), QStringLiteral("Share Live View..."));
    QVERIFY(entries[at + 2]->isSeparator());
    QCOMPARE(entries[at + 3]->objectName(), QStringLiteral("actionExit_2"));
    // Without a connection the view opens empty, and says so.
    action->trigger();
    LiveView* view = w->liveViewWindow();
    QVERIFY(view && view->isVisible());
    QCOMPARE(view->pointCount(LiveView::TemperatureLine), 0);
    QCOMPARE(view->phaseText(), QString());
}

void LiveViewTest::shortRunDrawnAndExported()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    // Readings are recorded before the view is ever opened.
    QVERIFY(BoxFixture::waitUntil([&] { return w->readingHistory().sampleCount() >= 3; }, 5000));
    w->findChild<QAction*>(QStringLiteral("actionLive_View"))->trigger();
    LiveView* view = w->liveViewWindow();
    QVERIFY(view && view->isVisible());
    const int firstCount = view->pointCount(LiveView::TemperatureLine);
    QVERIFY(firstCount > 0);
    QVERIFY(view->pointCount(LiveView::N2Line) > 0);

    // At most two redraws a second, whatever the readings do.
    const int redrawsBefore = view->redraws();
    w->waitProcessingEvents(2000);
    const int redraws = view->redraws() - redrawsBefore;
    QVERIFY2(redraws >= 1 && redraws <= 5, qPrintable(QString::number(redraws)));
    QVERIFY(view->pointCount(LiveView::TemperatureLine) > firstCount);

    Grid grid;
    grid.useP = true;
    grid.pFrom = 0;
    grid.pTo = 2;
    grid.pStep = 2;
    planGrid(f, grid);
    chooseLog(f, dir.filePath(QStringLiteral("live.csv")));

    // The first pulse is turned away: a warning, and the point is repeated.
    boxsim::Faults refuse;
    refuse.refuse = true;
    f.box->setFaults(Device::Pulse, refuse);
    QStringList seen; // phase text, then the grid, at each status message that tells
    connect(w->statusBar(), &QStatusBar::messageChanged, this, [&](const QString& text) {
        const bool pulse = text.startsWith(QLatin1String("Pulse "));
        const bool repeated = text.endsWith(QLatin1String("point repeated."));
        const bool delay = text.startsWith(QLatin1String("Delay before pulse"));
        if (!pulse && !repeated && !delay)
            return;
        view->refresh();
        seen << view->phaseText() + QStringLiteral(" | ") + gridStates(view);
        if (repeated)
            f.box->setFaults(Device::Pulse, boxsim::Faults());
    });
    QVERIFY(runToEnd(f, 120000));
    view->refresh();

    QCOMPARE(seen.filter(QStringLiteral("Pulsing | CW")).size(), 2);
    QVERIFY2(seen.contains(QStringLiteral("Pulsing | DC")), qPrintable(seen.join('\n')));
    QVERIFY2(seen.contains(QStringLiteral("Repeating the point | CW")),
             qPrintable(seen.join('\n')));
    QVERIFY2(seen.contains(QStringLiteral("Waiting before the pulse | DC")),
             qPrintable(seen.join('\n')));
    QCOMPARE(view->phaseText(), QStringLiteral("Done"));
    QCOMPARE(gridStates(view), QStringLiteral("DD"));
    // Three records (one taken back again) and two warnings, on every chart.
    QCOMPARE(view->pointCount(LiveView::RecordMarks), 3);
    QCOMPARE(view->pointCount(LiveView::WarningMarks), 2);
    QVERIFY(view->pointCount(LiveView::PressureLine) > 0);
    QVERIFY(view->pointCount(LiveView::PressureSetLine) > 0);
    // The grid is headed with its pressures; the marks' key is given once,
    // beside the charts rather than in each of them.
    QCOMPARE(headings(view->progressGrid(), Qt::Horizontal), QStringLiteral("0.00 Bar|2.00 Bar"));
    QCOMPARE(headings(view->progressGrid(), Qt::Vertical), QStringLiteral("T"));
    QCOMPARE(chartLegends(view).join(' '), QStringLiteral("T T set P P set N2 O2"));
    QVERIFY(view->findChild<QWidget*>(QStringLiteral("marksLegend"))->isVisible());
    // The pressure chart ticked at round values around the 0 and 2 bar.
    const QStringList pressureTicks = view->tickLabels(1, Qt::Vertical);
    QVERIFY2(pressureTicks.contains(QStringLiteral("2.0")) ||
                 pressureTicks.contains(QStringLiteral("2")),
             qPrintable(pressureTicks.join(' ')));
    QVERIFY(!view->tickLabels(1, Qt::Horizontal).isEmpty());

    // The export, answered by the dialog seam.
    const QString csvPath = dir.filePath(QStringLiteral("readings.csv"));
    f.dialogs.pushAccept(csvPath);
    view->findChild<QPushButton*>(QStringLiteral("exportButton"))->click();
    bool crlf = false;
    const QStringList lines = logLines(csvPath, &crlf);
    QVERIFY(crlf);
    QCOMPARE(lines.value(0), QStringLiteral("time,T_C,T_set_C,P,P_set,N2_slpm,O2_slpm,event,kind"));
    QCOMPARE(lines.filter(QStringLiteral(",Record 2 written @ T:")).size(), 1);
    QCOMPARE(lines.filter(QStringLiteral(",\"Warning: Can't reach the pulse generator @ ")).size(),
             1);

    // Its place on the screen is kept in the window's settings store.
    view->hide();
    QVERIFY(!QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelvra"),
                       QStringLiteral("Baroterm"))
                 .value(QStringLiteral("LIVE_VIEW_GEOMETRY"))
                 .toByteArray()
                 .isEmpty());
}

void LiveViewTest::sharedAsAPage()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress(f.host), 0));
    const quint16 port = probe.serverPort();
    probe.close();

    // Switched on in the dialog: the page serves this window's session, and
    // the choice is kept.
    ScriptedDialogs::Answer on;
    on.value = QVariantList{true, f.host, int(port)};
    f.dialogs.push(on);
    w->findChild<QAction*>(QStringLiteral("actionShare_Live_View"))->trigger();
    QCOMPARE(f.dialogs.last().kind, QStringLiteral("share"));
    QCOMPARE(f.dialogs.last().args, (QVariantList{false, "127.0.0.1", 8080, ""}));
    QVERIFY(w->liveViewShared());
    const Answer status = exchange(f.host, port, get("/api/status"));
    QCOMPARE(status.status, 200);
    const QJsonObject box = QJsonDocument::fromJson(status.body).object().value("box").toObject();
    QCOMPARE(box.value("address").toString(), f.host);

    // The command line wins and leaves the settings alone; a port in use is
    // a warning, and the window goes on.
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(f.host), 0));
    monitor::Endpoint busy;
    busy.address = QHostAddress(f.host);
    busy.port = taken.serverPort();
    w->startSharing(busy);
    QVERIFY(!w->liveViewShared());
    QVERIFY2(w->statusBar()->currentMessage().startsWith("Live view not shared: "),
             qPrintable(w->statusBar()->currentMessage()));
    const QString page = QStringLiteral("http://%1:%2/").arg(f.host).arg(port);
    w->startSharing(std::nullopt);
    QVERIFY(w->liveViewShared());
    f.dialogs.pushCancel();
    w->findChild<QAction*>(QStringLiteral("actionShare_Live_View"))->trigger();
    QCOMPARE(f.dialogs.last().args, (QVariantList{true, f.host, int(port), page}));
    QVERIFY(w->liveViewShared()); // a cancel changes nothing

    // Switched off.
    ScriptedDialogs::Answer off;
    off.value = QVariantList{false, f.host, int(port)};
    f.dialogs.push(off);
    w->findChild<QAction*>(QStringLiteral("actionShare_Live_View"))->trigger();
    QVERIFY(!w->liveViewShared());
    QCOMPARE(exchange(f.host, port, get("/api/status")).status, 0);
}

QTEST_MAIN(LiveViewTest)
#include "tst_liveview.moc"
