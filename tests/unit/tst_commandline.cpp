#include "appinfo.h"
#include "commandline.h"

#include <QtTest>

using commandline::evaluate;

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void answeredBeforeTheWindowSystem()
    {
        // arguments, answered without a display
        const QList<std::pair<QStringList, bool>> cases = {
            {{"baroterm"}, false},
            {{"baroterm", "-platform", "offscreen"}, false},
            {{"baroterm", "--version"}, true},
            {{"baroterm", "-style", "fusion", "-v"}, true},
            {{"baroterm", "-h"}, true},
            {{"baroterm", "--help"}, true},
            {{"baroterm", "--", "--help"}, false}, // a file named --help
            {{"baroterm", "--helpme"}, false},
        };
        for (const auto& [arguments, early] : cases)
            QVERIFY2(commandline::asksForHelpOrVersion(arguments) == early,
                     qPrintable(arguments.join(' ')));
    }

    void outcomes()
    {
        const QString version = QStringLiteral("baroterm %1\n").arg(appinfo::kVersion);
        QCOMPARE(version, QStringLiteral("baroterm 2.4.8f\n"));
        // arguments, opens the window, exit status, standard output
        const QList<std::tuple<QStringList, bool, int, QString>> cases = {
            {{"baroterm"}, true, 0, ""},
            {{"baroterm", "log.csv"}, true, 0, ""}, // ignored, as always
            {{"baroterm", "--", "--version"}, true, 0, ""},
            {{"baroterm", "--version"}, false, 0, version},
            {{"baroterm", "-v"}, false, 0, version},
            {{"baroterm", "--bogus"}, false, 2, ""},
            {{"baroterm", "--version", "--bogus"}, false, 2, ""},
            {{"baroterm", "--monitor", "8080"}, true, 0, ""},
            {{"baroterm", "--monitor", "70000"}, false, 2, ""},
            {{"baroterm", "--monitor-key-file", "k"}, false, 2, ""},
        };
        for (const auto& [arguments, opens, status, out] : cases) {
            const commandline::Outcome o = evaluate(arguments);
            const QString what = arguments.join(' ');
            QVERIFY2(o.openWindow == opens, qPrintable(what));
            QVERIFY2(o.exitCode == status, qPrintable(what));
            QVERIFY2(o.standardOutput == out, qPrintable(what));
            QVERIFY2(o.standardError.isEmpty() == (status == 0), qPrintable(what));
        }
        QVERIFY(evaluate({"baroterm", "--bogus"}).standardError.contains("bogus"));
        QVERIFY(evaluate({"baroterm", "--monitor", "70000"}).standardError.contains("--monitor: "));
        // The command line's monitor, for the window to prefer over the settings.
        const commandline::Outcome shared =
            evaluate({"baroterm", "--monitor", "0.0.0.0:8081", "--monitor-key-file", "k"});
        QVERIFY(shared.monitor.endpoint);
        QCOMPARE(shared.monitor.endpoint->address, QHostAddress(QHostAddress::AnyIPv4));
        QCOMPARE(int(shared.monitor.endpoint->port), 8081);
        QCOMPARE(shared.monitor.keyFile, QStringLiteral("k"));
        QVERIFY(!evaluate({"baroterm"}).monitor.endpoint);

        const commandline::Outcome help = evaluate({"baroterm", "--help"});
        QVERIFY(!help.openWindow);
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.standardOutput.contains("--version"));
        QVERIFY(help.standardOutput.contains("calibration box"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
