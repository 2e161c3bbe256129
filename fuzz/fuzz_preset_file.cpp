// Loading a preset: whatever the INI file holds, the window gets values
// inside the ranges of its dialogs, and saving them loads them back unchanged.
// Input: the file's bytes.
#include "fuzzsupport.h"
#include "presetfile.h"

#include <cmath>

namespace {

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

// A switch is on exactly when its text is "true" or "1".
void checkSwitch(const QMap<QString, QString>& keys, const char* key, bool on)
{
    const auto found = keys.constFind(QLatin1String(key));
    FUZZ_CHECK(on == (found != keys.cend() &&
                      (*found == QLatin1String("true") || *found == QLatin1String("1"))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = fuzzsupport::bytes(data, size);
    const QMap<QString, QString> keys = records::presetKeyTexts(text);
    const records::PresetReadResult loaded = records::presetFromKeys(keys);
    FUZZ_CHECK(loaded.status == QSettings::NoError);
    checkValues(loaded);

    const records::PresetValues& v = loaded.values;
    checkSwitch(keys, "Main/WAIT_CAMERA_FEEDBACK", v.waitCameraFeedback);
    checkSwitch(keys, "Auto/AUTO_P_ON", v.autoPOn);
    checkSwitch(keys, "Auto/AUTO_T_ON", v.autoTOn);
    checkSwitch(keys, "Auto/ADD_REFP", v.addRefP);
    FUZZ_CHECK(v.unitFactor == records::unitFactorForText(keys.value("Main/UNITS")));

    // What was loaded, saved and loaded again, is the same, and saves the same.
    const QByteArray saved = records::presetToText(v);
    const records::PresetReadResult reloaded = records::presetFromText(saved);
    FUZZ_CHECK(!reloaded.pulseWidthRejected);
    FUZZ_CHECK(sameValues(reloaded.values, v));
    FUZZ_CHECK(records::presetToText(reloaded.values) == saved);
    return 0;
}
