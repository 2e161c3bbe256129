// Loading a preset: whatever the INI file holds, the window gets values
// inside the ranges of its dialogs, and saving them loads them back unchanged.
// Input: the file's bytes.
#include "fuzzsupport.h"
#include "presetfile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>

namespace {

QString freshPath()
{
    static QTemporaryDir dir;
    static quint64 counter = 0;
    // A new name every time: the toolkit caches INI files by path.
    return dir.filePath(QStringLiteral("preset-%1.ini").arg(++counter));
}

bool sameValues(const records::PresetValues& a, const records::PresetValues& b)
{
    return a.unitFactor == b.unitFactor && a.waitBeforePulse == b.waitBeforePulse &&
           a.extraWaitBeforeZero == b.extraWaitBeforeZero &&
           a.waitCameraFeedback == b.waitCameraFeedback &&
           a.delayBetweenPulses == b.delayBetweenPulses && a.pulseWidth == b.pulseWidth &&
           a.manualT == b.manualT && a.manualP == b.manualP && a.autoPOn == b.autoPOn &&
           a.autoPFrom == b.autoPFrom && a.autoPTo == b.autoPTo && a.autoPDelta == b.autoPDelta &&
           a.autoTOn == b.autoTOn && a.autoTFrom == b.autoTFrom && a.autoTTo == b.autoTTo &&
           a.autoTDelta == b.autoTDelta && a.addRefP == b.addRefP;
}

void checkValues(const records::PresetReadResult& result)
{
    const records::PresetValues& v = result.values;
    FUZZ_CHECK(v.waitBeforePulse >= 0 && v.waitBeforePulse <= records::kMaxWaitBeforePulse);
    FUZZ_CHECK(v.extraWaitBeforeZero >= 0 &&
               v.extraWaitBeforeZero <= records::kMaxExtraWaitBeforeZero);
    FUZZ_CHECK(v.delayBetweenPulses >= 0 &&
               v.delayBetweenPulses <= records::kMaxDelayBetweenPulses);

    // The generator takes exactly three digits, 001 to 999.
    FUZZ_CHECK(v.pulseWidth.size() == 3);
    for (const QChar c : v.pulseWidth)
        FUZZ_CHECK(c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    FUZZ_CHECK(v.pulseWidth.toInt() >= records::kMinPulseWidth);
    if (result.pulseWidthRejected)
        FUZZ_CHECK(v.pulseWidth == records::PresetValues().pulseWidth);

    for (double d : {v.manualT, v.manualP, v.autoPFrom, v.autoPTo, v.autoPDelta, v.autoTFrom,
                     v.autoTTo, v.autoTDelta})
        FUZZ_CHECK(std::isfinite(d));
    if (v.unitFactor)
        FUZZ_CHECK(*v.unitFactor == 1.0 || *v.unitFactor == 100.0 || *v.unitFactor == 14.5038);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = freshPath();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    const records::PresetReadResult loaded = records::readPreset(path);
    QFile::remove(path);
    checkValues(loaded);

    // What was loaded, saved and loaded again, is the same.
    const QString again = freshPath();
    FUZZ_CHECK(records::writePreset(again, loaded.values));
    const records::PresetReadResult reloaded = records::readPreset(again);
    QFile::remove(again);
    FUZZ_CHECK(reloaded.status == QSettings::NoError);
    FUZZ_CHECK(!reloaded.pulseWidthRejected);
    FUZZ_CHECK(sameValues(reloaded.values, loaded.values));
    return 0;
}
