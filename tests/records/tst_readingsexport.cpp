// The live view's CSV export, byte for byte: the columns of the readings file, its
// last column saying what each line is.
#include "readingsexport.h"

#include <QLocale>
#include <QtTest>

using history::EventKind;

namespace {

constexpr qint64 k0 = 1765200000000; // 2025-12-08T13:20:00.000Z

history::Sample sample(qint64 atMs, std::array<float, history::kChannels> v)
{
    history::Sample s;
    s.atMs = atMs;
    s.v = v;
    return s;
}

constexpr float na = history::kUnknown;

} // namespace

class ReadingsExportTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void exportBytes_data();
    void exportBytes();
    void fields_data();
    void fields();
};

void ReadingsExportTest::initTestCase()
{
    // A comma locale must not reach the file.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void ReadingsExportTest::exportBytes_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QByteArray>("csv");

    const QByteArray header = "time,T_C,T_set_C,P,P_set,N2_slpm,O2_slpm,event,kind\r\n";
    QTest::newRow("empty") << 0 << 1.0 << header;
    QTest::newRow("readings and events in bar")
        << 1 << 1.0
        << header + "2025-12-08T13:20:00.000Z,21.9,22.0,n/a,n/a,n/a,n/a,,reading\r\n"
                    "2025-12-08T13:20:00.500Z,21.9,22.0,1.0012,1.0000,7.878,2.122,,reading\r\n"
                    "2025-12-08T13:20:00.500Z,21.9,22.0,1.0012,1.0000,7.878,2.122,"
                    "Record 1 written,record\r\n"
                    "2025-12-08T13:20:01.200Z,22.1,22.0,1.0012,1.0000,7.878,2.122,,reading\r\n"
                    "2025-12-08T13:20:02.000Z,22.1,22.0,1.0012,1.0000,7.878,2.122,"
                    "\"Warning: Can't reach the pulse generator @ T:22.1 P:1.0, point "
                    "repeated.\",warning\r\n"
                    "2025-12-08T13:20:03.000Z,22.1,22.0,1.0012,1.0000,7.878,2.122,"
                    "\"Said \"\"no\"\"\",warning\r\n";
    QTest::newRow("kPa") << 2 << 100.0
                         << header + "2025-12-08T13:20:00.000Z,-5.0,n/a,250.00,250.00,5.000,"
                                     "5.000,,reading\r\n";
    QTest::newRow("older readings as minimum and maximum per minute")
        << 3 << 1.0
        << header + "2025-12-08T13:20:00.000Z,n/a,n/a,n/a,n/a,n/a,n/a,Connection lost,warning\r\n"
                    "2025-12-08T13:20:00.000Z,20.0,n/a,n/a,n/a,n/a,n/a,,reading\r\n"
                    "2025-12-08T13:20:00.000Z,25.0,n/a,n/a,n/a,n/a,n/a,,reading\r\n"
                    "2025-12-08T21:21:00.000Z,23.0,n/a,n/a,n/a,n/a,n/a,,reading\r\n";
}

void ReadingsExportTest::exportBytes()
{
    QFETCH(int, scenario);
    QFETCH(double, factor);
    history::ReadingHistory h;
    switch (scenario) {
    case 1:
        h.addSample(sample(k0, {21.9f, 22, na, na, na, na}));
        h.addSample(sample(k0 + 500, {21.9f, 22, 1.0012f, 1, 7.878f, 2.122f}));
        h.addEvent(k0 + 500, EventKind::Record, QStringLiteral("Record 1 written"));
        h.addSample(sample(k0 + 1200, {22.1f, 22, 1.0012f, 1, 7.878f, 2.122f}));
        h.addEvent(k0 + 2000, EventKind::Warning,
                   QStringLiteral("Warning: Can't reach the pulse generator @ T:22.1 P:1.0, "
                                  "point repeated."));
        h.addEvent(k0 + 3000, EventKind::Warning, QStringLiteral("Said \"no\""));
        break;
    case 2:
        h.addSample(sample(k0, {-5, na, 2.5f, 2.5f, 5, 5}));
        break;
    case 3:
        h.addEvent(k0, EventKind::ConnectionLost, QStringLiteral("Connection lost"));
        h.addSample(sample(k0 + 100, {20, na, na, na, na, na}));
        h.addSample(sample(k0 + 30000, {25, na, na, na, na, na}));
        // Eight hours and a minute later the first minute is folded.
        h.addSample(sample(k0 + history::ReadingHistory::kFullResolutionMs + 60000,
                           {23, na, na, na, na, na}));
        break;
    default:
        break;
    }
    QTEST(records::readingsCsv(h, factor), "csv");
}

void ReadingsExportTest::fields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "Record 3"
                           << "Record 3";
    QTest::newRow("comma") << "a,b"
                           << "\"a,b\"";
    QTest::newRow("quote") << "5\" pipe"
                           << "\"5\"\" pipe\"";
    QTest::newRow("line break") << "a\nb"
                                << "\"a\nb\"";
    QTest::newRow("empty") << ""
                           << "";
}

void ReadingsExportTest::fields()
{
    QFETCH(QString, text);
    QTEST(records::csvField(text), "field");
}

QTEST_APPLESS_MAIN(ReadingsExportTest)
#include "tst_readingsexport.moc"
