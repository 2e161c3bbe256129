// The checks baroterm-run makes before anything goes to the box.
#include "loglock.h"
#include "resumeplan.h"
#include "runsetup.h"

#include "units.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using runner::CommandLine;

class TestRunSetup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& text)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void commandLine_data();
    void commandLine();
    void helpNamesEveryOption();
    void preset_data();
    void preset();
    void presetRefusals_data();
    void presetRefusals();
    void reference_data();
    void reference();
    void logName_data();
    void logName();
    void instrumentTable_data();
    void instrumentTable();
    void reportWaitsForTheRun();
};

static const QStringList kRequired = {"--box", "127.20.0.1", "--preset",
                                      "p.ini", "--log",      "run.csv"};

void TestRunSetup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    // For a refusal: part of the error line; for a run: "field=value".
    QTest::addColumn<QString>("expect");

    const int run = int(CommandLine::Action::Run);
    const int refuse = int(CommandLine::Action::Refuse);
    QTest::newRow("minimal") << kRequired << run << "pulses=1";
    QTest::newRow("leading zeros plain")
        << QStringList{"--box", "127.020.000.001", "--preset", "p.ini", "--log", "run.csv"} << run
        << "box=127.20.0.1";
    QTest::newRow("pulses 99") << kRequired + QStringList{"--pulses", "99"} << run << "pulses=99";
    QTest::newRow("no color") << kRequired + QStringList{"--no-color"} << run << "color=0";
    QTest::newRow("feedback on") << kRequired + QStringList{"--camera-feedback"} << run
                                 << "feedback=1";
    QTest::newRow("feedback off") << kRequired + QStringList{"--no-camera-feedback"} << run
                                  << "feedback=0";
    QTest::newRow("json init") << kRequired + QStringList{"--json", "--init"} << run << "json=1";
    QTest::newRow("help") << QStringList{"--help"} << int(CommandLine::Action::Help) << "";
    QTest::newRow("version") << QStringList{"--version"} << int(CommandLine::Action::Version) << "";

    QTest::newRow("unknown option") << kRequired + QStringList{"--fast"} << refuse << "fast";
    QTest::newRow("stray argument") << kRequired + QStringList{"extra"} << refuse << "\"extra\"";
    QTest::newRow("no box") << QStringList(kRequired.mid(2)) << refuse << "--box is required";
    QTest::newRow("no log") << QStringList(kRequired.mid(0, 4)) << refuse << "--log is required";
    QTest::newRow("bad address") << QStringList{"--box", "127.0.0.256", "--preset",
                                                "p",     "--log",       "a.csv"}
                                 << refuse << "\"127.0.0.256\" is not an IPv4 address";
    QTest::newRow("blank in address")
        << QStringList{"--box", " 127.0.0.2", "--preset", "p", "--log", "a.csv"} << refuse
        << "IPv4";
    QTest::newRow("pulses 0") << kRequired + QStringList{"--pulses", "0"} << refuse
                              << "--pulses: \"0\"";
    QTest::newRow("pulses 100") << kRequired + QStringList{"--pulses", "100"} << refuse
                                << "1 to 99";
    QTest::newRow("pulses text") << kRequired + QStringList{"--pulses", "two"} << refuse
                                 << "\"two\"";
    QTest::newRow("both feedbacks")
        << kRequired + QStringList{"--camera-feedback", "--no-camera-feedback"} << refuse
        << "exclude";
    QTest::newRow("missing value") << QStringList{"--box"} << refuse << "box";
    // A resume takes its plan from the journal: only the box may change.
    QTest::newRow("resume") << QStringList{"--resume", "a.csv"} << run << "resume=a.csv";
    QTest::newRow("resume journal named")
        << QStringList{"--resume", "a.csv.run"} << run << "resume=a.csv";
    QTest::newRow("resume moved box")
        << QStringList{"--resume", "a.csv", "--box", "127.0.0.010"} << run << "box=127.0.0.10";
    // No log named: it would have gone on as a new run and blamed --preset.
    QTest::newRow("resume nothing") << QStringList{"--resume", ""} << refuse << "--resume needs";
    QTest::newRow("resume only the ending")
        << QStringList{"--resume=.run", "--box", "127.0.0.2"} << refuse << "--resume needs";
    QTest::newRow("resume with preset")
        << QStringList{"--resume", "a.csv", "--preset", "p.ini"} << refuse << "--preset";
    QTest::newRow("resume with pulses")
        << QStringList{"--resume", "a.csv", "--pulses", "2"} << refuse << "--pulses";
    QTest::newRow("monitor port") << kRequired + QStringList{"--monitor", "8080"} << run
                                  << "monitor=127.0.0.1 8080";
    // The address itself is read as the monitor's own tests check it.
    QTest::newRow("monitor address")
        << kRequired + QStringList{"--monitor", "0.0.0.0:8080"} << run << "monitor=0.0.0.0 8080";
    QTest::newRow("monitor key file")
        << kRequired + QStringList{"--monitor", "8080", "--monitor-key-file", "k"} << run
        << "keyfile=k";
    QTest::newRow("resume monitor")
        << QStringList{"--resume", "a.csv", "--monitor", "8080"} << run << "monitor=127.0.0.1 8080";
    QTest::newRow("no monitor") << kRequired << run << "monitor=none";
    QTest::newRow("monitor port 0")
        << kRequired + QStringList{"--monitor", "0"} << refuse << "--monitor: \"0\" is not a port";
    QTest::newRow("key file alone")
        << kRequired + QStringList{"--monitor-key-file", "k"} << refuse << "goes with --monitor";
    QTest::newRow("resume bad box")
        << QStringList{"--resume", "a.csv", "--box", "x"} << refuse << "--box";
    // The report made again from the files: no box, no plan.
    const int report = int(CommandLine::Action::Report);
    QTest::newRow("report") << QStringList{"--report", "a.csv"} << report << "report=a.csv";
    QTest::newRow("report with table") << QStringList{"--report", "a.csv", "--instruments", "i.ini"}
                                       << report << "instruments=i.ini";
    QTest::newRow("report with box") << QStringList{"--report", "a.csv", "--box", "127.20.0.1"}
                                     << refuse << "--box cannot go with --report";
    QTest::newRow("report with monitor") << QStringList{"--report", "a.csv", "--monitor", "8080"}
                                         << refuse << "--monitor cannot go with --report";
    QTest::newRow("run with table")
        << kRequired + QStringList{"--instruments", "i.ini"} << run << "instruments=i.ini";
    QTest::newRow("resume with table")
        << QStringList{"--resume", "a.csv", "--instruments", "i.ini"} << run << "instruments=i.ini";
}

void TestRunSetup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, expect);
    const CommandLine parsed = runner::parseCommandLine(QStringList{"baroterm-run"} + arguments);
    QCOMPARE(int(parsed.action), action);
    if (parsed.action == CommandLine::Action::Refuse) {
        QVERIFY2(parsed.text.contains(expect), qPrintable(parsed.text));
        QVERIFY(!parsed.text.contains(QLatin1Char('\n')));
        return;
    }
    if (expect.isEmpty())
        return;
    const runner::Options& o = parsed.options;
    const QString field = expect.section('=', 0, 0);
    const QString value = expect.section('=', 1);
    QString actual;
    if (field == "pulses")
        actual = QString::number(o.pulses);
    else if (field == "box")
        actual = o.box;
    else if (field == "color")
        actual = QString::number(o.color);
    else if (field == "feedback")
        actual = o.cameraFeedback ? QString::number(*o.cameraFeedback) : "none";
    else if (field == "json")
        actual = QString::number(o.json && o.init);
    else if (field == "resume")
        actual = o.resume;
    else if (field == "monitor")
        actual = o.monitor.endpoint ? QStringLiteral("%1 %2")
                                          .arg(o.monitor.endpoint->address.toString())
                                          .arg(o.monitor.endpoint->port)
                                    : QStringLiteral("none");
    else if (field == "keyfile")
        actual = o.monitor.keyFile;
    else if (field == "report")
        actual = o.report;
    else if (field == "instruments")
        actual = o.instruments;
    QCOMPARE(actual, value);
}

void TestRunSetup::helpNamesEveryOption()
{
    const CommandLine parsed = runner::parseCommandLine({"baroterm-run", "--help"});
    for (const char* option :
         {"--box", "--preset", "--log", "--overwrite", "--json", "--no-color", "--pulses",
          "--reference", "--camera-feedback", "--no-camera-feedback", "--init", "--resume",
          "--instruments", "--report", "--version"})
        QVERIFY2(parsed.text.contains(QLatin1String(option)), option);
}

void TestRunSetup::preset_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<double>("factor");
    QTest::addColumn<int>("tPoints"); // 0: axis off
    QTest::addColumn<int>("pPoints");
    QTest::addColumn<QString>("sweep"); // tFrom tTo tDelta pFrom pTo pDelta
    QTest::addColumn<QStringList>("notedKeys");

    QTest::newRow("both axes, bar")
        << QByteArray("[Main]\nUNITS=Bar\n[Auto]\nAUTO_T_ON=true\nAUTO_T_FROM=22\nAUTO_T_TO=24\n"
                      "AUTO_T_DELTA=1\nAUTO_P_ON=true\nAUTO_P_FROM=0\nAUTO_P_TO=4\n"
                      "AUTO_P_DELTA=2\n")
        << 1.0 << 3 << 3 << "22 24 1 0 4 2" << QStringList();
    // No UNITS: bar, whatever the window showed last.
    QTest::newRow("no unit is bar")
        << QByteArray("[Auto]\nAUTO_P_ON=true\nAUTO_P_FROM=1\nAUTO_P_TO=2\nAUTO_P_DELTA=0.5\n")
        << 1.0 << 0 << 3 << "0 0 0.1 1 2 0.5" << QStringList();
    QTest::newRow("kPa") << QByteArray(
                                "[Main]\nUNITS=Pascal\n[Auto]\nAUTO_P_ON=true\nAUTO_P_FROM=0\n"
                                "AUTO_P_TO=200\nAUTO_P_DELTA=100\n")
                         << 100.0 << 0 << 3 << "0 0 0.1 0 200 100" << QStringList();
    QTest::newRow("clamped and rounded")
        << QByteArray("[Auto]\nAUTO_T_ON=true\nAUTO_T_FROM=-40\nAUTO_T_TO=22.04\n"
                      "AUTO_T_DELTA=100\nAUTO_P_TO=9\n")
        << 1.0 << 1 << 0 << "-25 22 70 0 4.5 0.01"
        << QStringList{"Auto/AUTO_P_TO = 9 is outside 0 to 4.5; using 4.5",
                       "Auto/AUTO_T_FROM = -40 is outside -25 to 90; using -25",
                       "Auto/AUTO_T_TO = 22.04 has more than 1 decimals; using 22",
                       "Auto/AUTO_T_DELTA = 100 is outside 0.1 to 70; using 70"};
    QTest::newRow("psi, a boolean that is not one")
        << QByteArray("[Main]\nUNITS=psi\n[Auto]\nAUTO_T_ON=yes\nAUTO_P_ON=1\nAUTO_P_FROM=0\n"
                      "AUTO_P_TO=14.5\nAUTO_P_DELTA=7.25\n")
        << 14.5038 << 0 << 3 << "0 0 0.1 0 14.5 7.25" << QStringList();
    // The window keeps its pulse width when the preset's is out of range.
    QTest::newRow("pulse width out of range")
        << QByteArray("[Main]\nPULSE_WIDTH=1500\nWAIT_BEFORE_PULSE=-3\n[Auto]\nAUTO_T_ON=1\n")
        << 1.0 << 1 << 0 << "0 0 0.1 0 0 0.01"
        << QStringList{"Main/WAIT_BEFORE_PULSE = -3 is outside 0 to 99999; using 0",
                       "\"1500\" is not 1 to 999 ms; keeping 010 ms"};
}

void TestRunSetup::preset()
{
    QFETCH(QByteArray, ini);
    QFETCH(double, factor);
    QFETCH(int, tPoints);
    QFETCH(int, pPoints);
    QFETCH(QString, sweep);
    QFETCH(QStringList, notedKeys);

    const runner::PresetCheck check = runner::readPresetPlan(write("p.ini", ini));
    QVERIFY2(check.ok, qPrintable(check.error));
    const runner::PresetPlan& p = check.preset;
    QCOMPARE(p.plan.unitFactor, factor);
    QCOMPARE(p.plan.temperatureAxisOn ? p.plan.temperature.points : 0, tPoints);
    QCOMPARE(p.plan.pressureAxisOn ? p.plan.pressure.points : 0, pPoints);
    const QStringList values = sweep.split(' ');
    const double expected[] = {values[0].toDouble(), values[1].toDouble(), values[2].toDouble(),
                               values[3].toDouble(), values[4].toDouble(), values[5].toDouble()};
    const double actual[] = {p.tFrom, p.tTo, p.tDelta, p.pFrom, p.pTo, p.pDelta};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(actual[i], expected[i]);
    QCOMPARE(p.notes.size(), notedKeys.size());
    for (int i = 0; i < notedKeys.size(); ++i)
        QVERIFY2(p.notes[i].contains(notedKeys[i]), qPrintable(p.notes[i]));
    QCOMPARE(p.plan.gasOff, true);
    QCOMPARE(p.plan.writeLog, true);

    // The journal of a run of this preset gives the same run back to a resume.
    runner::Options options;
    options.pulses = 3;
    options.color = false;
    runner::PresetPlan back;
    runner::Options backOptions;
    records::JournalPlan journal = runner::journalPlanOf(p, options, records::LogLayout::Cls);
    QVERIFY2(records::planProblem(journal).isEmpty(), qPrintable(records::planProblem(journal)));
    QVERIFY(!runner::presetFromJournal(journal, &back, &backOptions));
    QCOMPARE(back.plan.unitFactor, p.plan.unitFactor);
    QCOMPARE(back.plan.temperatureAxisOn, p.plan.temperatureAxisOn);
    QCOMPARE(back.plan.pressureAxisOn, p.plan.pressureAxisOn);
    QCOMPARE(back.plan.temperature.points, p.plan.temperature.points);
    QCOMPARE(back.plan.pressure.points, p.plan.pressure.points);
    QCOMPARE(back.plan.pressure.delta, p.plan.pressure.delta);
    const double backSweep[] = {back.tFrom, back.tTo, back.tDelta,
                                back.pFrom, back.pTo, back.pDelta};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(backSweep[i], actual[i]);
    QCOMPARE(back.waitBeforePulseS, p.waitBeforePulseS);
    QCOMPARE(back.pulseWidth, p.pulseWidth);
    QCOMPARE(backOptions.pulses, 3);
    QCOMPARE(backOptions.color, false);
    QCOMPARE(backOptions.cameraFeedback, std::optional<bool>(p.cameraFeedback));
    // Axes that no longer give the journal's points: another plan.
    if (journal.pressure.on) {
        ++journal.pressure.points;
        QVERIFY(runner::presetFromJournal(journal, &back, &backOptions));
    }
}

void TestRunSetup::presetRefusals_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expect");

    QTest::newRow("text for a number") << QByteArray("[Auto]\nAUTO_T_ON=true\nAUTO_T_FROM=warm\n")
                                       << "Auto/AUTO_T_FROM = \"warm\" is not a number";
    QTest::newRow("comma decimal")
        << QByteArray("[Auto]\nAUTO_P_ON=true\nAUTO_P_TO=1,5\n") << "Auto/AUTO_P_TO";
    QTest::newRow("fraction for a whole number")
        << QByteArray("[Main]\nWAIT_BEFORE_PULSE=1.5\n[Auto]\nAUTO_T_ON=true\n")
        << "Main/WAIT_BEFORE_PULSE = \"1.5\"";
    QTest::newRow("not finite") << QByteArray("[Manual]\nMANUAL_T=nan\n[Auto]\nAUTO_T_ON=1\n")
                                << "Manual/MANUAL_T";
    QTest::newRow("pulse width text")
        << QByteArray("[Main]\nPULSE_WIDTH=abc\n[Auto]\nAUTO_T_ON=true\n")
        << "Main/PULSE_WIDTH = \"abc\"";
    QTest::newRow("no axis") << QByteArray("[Auto]\nAUTO_T_FROM=20\n") << "neither";
    // A unit the window does not write would otherwise run in bar without a word.
    QTest::newRow("unit in lower case")
        << QByteArray("[Main]\nUNITS=bar\n[Auto]\nAUTO_T_ON=true\n") << "Main/UNITS = \"bar\"";
    QTest::newRow("unit kPa") << QByteArray("[Main]\nUNITS=kPa\n[Auto]\nAUTO_P_ON=true\n")
                              << "Main/UNITS = \"kPa\" is not \"Bar\", \"Pascal\" or \"psi\"";
    QTest::newRow("empty unit") << QByteArray("[Main]\nUNITS=\n[Auto]\nAUTO_P_ON=true\n")
                                << "Main/UNITS = \"\"";
    // A boolean that is not true/false/1/0 is off: the axis left is off too.
    QTest::newRow("axis switched on with no") << QByteArray("[Auto]\nAUTO_P_ON=no\n") << "neither";
}

void TestRunSetup::presetRefusals()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, expect);
    const runner::PresetCheck check = runner::readPresetPlan(write("bad.ini", ini));
    QVERIFY(!check.ok);
    QVERIFY2(check.error.contains(expect), qPrintable(check.error));

    const runner::PresetCheck missing = runner::readPresetPlan(dir.filePath("none.ini"));
    QVERIFY(!missing.ok);
    QVERIFY(missing.error.contains("none.ini"));
}

void TestRunSetup::reference_data()
{
    QTest::addColumn<bool>("presetOn");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("t");

    QTest::newRow("bar") << true << 1.0 << "1.0,20.5" << true << 1.0 << 20.5;
    QTest::newRow("kPa top") << true << 100.0 << "400,60" << true << 400.0 << 60.0;
    QTest::newRow("blanks") << true << 1.0 << " 2 , 30 " << true << 2.0 << 30.0;
    QTest::newRow("off, none given") << false << 1.0 << "" << true << 1.0 << 20.0;
    QTest::newRow("required") << true << 1.0 << "" << false << 0.0 << 0.0;
    QTest::newRow("refused when off") << false << 1.0 << "1,20" << false << 0.0 << 0.0;
    QTest::newRow("P above 4 bar") << true << 1.0 << "4.1,20" << false << 0.0 << 0.0;
    QTest::newRow("T above 60") << true << 1.0 << "1,60.1" << false << 0.0 << 0.0;
    QTest::newRow("T negative") << true << 1.0 << "1,-1" << false << 0.0 << 0.0;
    QTest::newRow("two decimals") << true << 1.0 << "1.25,20" << false << 0.0 << 0.0;
    QTest::newRow("one number") << true << 1.0 << "1" << false << 0.0 << 0.0;
    QTest::newRow("text") << true << 1.0 << "a,b" << false << 0.0 << 0.0;
}

void TestRunSetup::reference()
{
    QFETCH(bool, presetOn);
    QFETCH(double, factor);
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(double, p);
    QFETCH(double, t);
    runner::PresetPlan preset;
    preset.addReferencePoint = presetOn;
    preset.plan.unitFactor = factor;
    const std::optional<QString> error = runner::applyReference(text, preset);
    QCOMPARE(!error.has_value(), ok);
    if (!ok) {
        QVERIFY(error->startsWith("--reference"));
        QVERIFY(!preset.plan.referencePointOn);
        return;
    }
    QCOMPARE(preset.plan.referencePointOn, presetOn);
    QCOMPARE(preset.plan.referenceP, p);
    QCOMPARE(preset.plan.referenceT, t);
}

void TestRunSetup::logName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("error"); // empty: accepted
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("rawLog");

    const int csv = int(records::LogLayout::Csv);
    const int cls = int(records::LogLayout::Cls);
    QTest::newRow("csv") << "new.csv" << false << "" << csv << "new_SLPM.csv";
    QTest::newRow("cls upper") << "new.CLS" << false << "" << cls << "new_SLPM.csv";
    QTest::newRow("other ending") << "new.txt" << false << "does not end" << 0 << "";
    QTest::newRow("only ending") << ".csv" << false << "no name" << 0 << "";
    QTest::newRow("existing") << "old.csv" << false << "give --overwrite" << 0 << "";
    QTest::newRow("existing overwritten") << "old.csv" << true << "" << csv << "old_SLPM.csv";
    QTest::newRow("raw log existing") << "rawonly.csv" << false << "rawonly_SLPM.csv" << 0 << "";
    // The files beside a log are an earlier run's too.
    QTest::newRow("readings file existing")
        << "seen.csv" << false << "seen.csv.readings.csv" << 0 << "";
    // Following "give --overwrite" would throw an interrupted run away.
    QTest::newRow("interrupted run")
        << "cut.csv" << false << "holds an interrupted run; --resume" << 0 << "";
}

void TestRunSetup::logName()
{
    QFETCH(QString, name);
    QFETCH(bool, overwrite);
    QFETCH(QString, error);
    QFETCH(int, layout);
    QFETCH(QString, rawLog);
    write("old.csv", "x");
    write("rawonly_SLPM.csv", "x");
    write("cut.csv", "x");
    write("cut.csv.run", "{}");
    write("seen.csv.readings.csv", "x");
    runner::LogChoice choice;
    const std::optional<QString> refused = runner::checkLog(dir.filePath(name), overwrite, &choice);
    if (!error.isEmpty()) {
        QVERIFY(refused);
        QVERIFY2(refused->contains(error), qPrintable(*refused));
        return;
    }
    QVERIFY2(!refused, qPrintable(refused.value_or(QString())));
    QCOMPARE(int(choice.layout), layout);
    QCOMPARE(choice.log, dir.filePath(name));
    QCOMPARE(choice.rawLog, dir.filePath(rawLog));
}

void TestRunSetup::instrumentTable_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("error"); // empty: taken
    QTest::newRow("the example") << QByteArray() << QByteArray() << "";
    QTest::newRow("negative") << QByteArray("a = 0.15") << QByteArray("a = -0.15")
                              << "[TemperatureSensor] a is negative";
    QTest::newRow("not a number") << QByteArray("full_scale = 20") << QByteArray("full_scale = x")
                                  << "[N2] full_scale is not a number";
    QTest::newRow("unreadable") << QByteArray() << QByteArray("<none>")
                                << "--instruments: can't read";
}

void TestRunSetup::instrumentTable()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, error);
    QFile example(QStringLiteral(EXAMPLE_INSTRUMENT_TABLE));
    QVERIFY(example.open(QIODevice::ReadOnly));
    QByteArray text = example.readAll();
    if (!from.isEmpty())
        text.replace(from, to);
    runner::Options options;
    options.instruments =
        to == "<none>" ? dir.filePath("absent.ini") : write("instruments.ini", text);
    uncertainty::InstrumentTable table;
    QString name;
    const std::optional<QString> refused = runner::instrumentTable(options, &table, &name);
    if (error.isEmpty()) {
        QVERIFY2(!refused, qPrintable(refused.value_or(QString())));
        QCOMPARE(table.n2.fullScale, 20.0);
        QCOMPARE(name, options.instruments);
        return;
    }
    QVERIFY(refused);
    QVERIFY2(refused->startsWith("--instruments: ") && refused->contains(error),
             qPrintable(*refused));
    // Without --instruments, the typical values.
    options.instruments.clear();
    QVERIFY(!runner::instrumentTable(options, &table, &name));
    QCOMPARE(table.o2.fullScale, 10.0);
}

// --report reads what a run writes: not while another run writes it.
void TestRunSetup::reportWaitsForTheRun()
{
    runner::Options options;
    options.report = dir.filePath("busy.csv");
    records::LogLock run;
    QCOMPARE(run.acquire(options.report), records::LogLock::State::Held);
    const std::optional<QString> refused = runner::remakeReport(options);
    QVERIFY(refused);
    QVERIFY2(refused->contains("is being written by another run"), qPrintable(*refused));
    run.release();
    // Free again: now the missing log is what it names.
    QVERIFY(runner::remakeReport(options)->contains("can't read"));
}

QTEST_GUILESS_MAIN(TestRunSetup)
#include "tst_runsetup.moc"
