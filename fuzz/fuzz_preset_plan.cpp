// baroterm-run's reading of a preset: a plan inside the window's ranges or
// one line saying what is wrong, and a plan that its journal gives back.
// Input: the file's bytes.
#include "fuzzsupport.h"
#include "presetfile.h"
#include "runsetup.h"
#include "units.h"

#include <cmath>

namespace {

// A spin box's limits, as rounded to its decimals.
struct Limits
{
    explicit Limits(const runner::SpinRange& range)
        : low(runner::spinBoxValue(range.minimum, range)),
          high(runner::spinBoxValue(range.maximum, range))
    {
    }
    bool hold(double value) const { return std::isfinite(value) && value >= low && value <= high; }
    double low;
    double high;
};

void checkPlan(const runner::PresetPlan& p, const records::PresetReadResult& read)
{
    const run::Plan& plan = p.plan;
    const double factor = plan.unitFactor;
    FUZZ_CHECK(factor == read.values.unitFactor.value_or(units::kBarFactor));
    FUZZ_CHECK(plan.temperatureAxisOn || plan.pressureAxisOn);
    FUZZ_CHECK(plan.temperatureAxisOn == read.values.autoTOn);
    FUZZ_CHECK(plan.pressureAxisOn == read.values.autoPOn);
    FUZZ_CHECK(p.addReferencePoint == read.values.addRefP && !plan.referencePointOn);
    FUZZ_CHECK(p.cameraFeedback == read.values.waitCameraFeedback);

    // Every number as a spin box of the window would hold it.
    static const Limits temperature({-25.0, 90.0, 1});
    static const Limits temperatureStep({0.1, 70.0, 1});
    FUZZ_CHECK(temperature.hold(p.tFrom) && temperature.hold(p.tTo));
    FUZZ_CHECK(temperatureStep.hold(p.tDelta));
    static const Limits pressures[] = {Limits(runner::pressureRange(units::kBarFactor, false)),
                                       Limits(runner::pressureRange(units::kKpaFactor, false)),
                                       Limits(runner::pressureRange(units::kPsiFactor, false))};
    static const Limits pressureSteps[] = {Limits(runner::pressureRange(units::kBarFactor, true)),
                                           Limits(runner::pressureRange(units::kKpaFactor, true)),
                                           Limits(runner::pressureRange(units::kPsiFactor, true))};
    const int unit = factor == units::kBarFactor ? 0 : factor == units::kKpaFactor ? 1 : 2;
    FUZZ_CHECK(pressures[unit].hold(p.pFrom) && pressures[unit].hold(p.pTo));
    FUZZ_CHECK(pressureSteps[unit].hold(p.pDelta));
    FUZZ_CHECK(plan.temperature.points >= 1 && plan.temperature.points <= 32767);
    FUZZ_CHECK(plan.pressure.points >= 1 && plan.pressure.points <= 32767);
    FUZZ_CHECK(p.waitBeforePulseS >= 0 && p.waitBeforePulseS <= records::kMaxWaitBeforePulse);
    FUZZ_CHECK(p.delayBetweenPulsesS >= 0 &&
               p.delayBetweenPulsesS <= records::kMaxDelayBetweenPulses);
    FUZZ_CHECK(records::parsePulseWidth(p.pulseWidth) && p.pulseWidth.size() == 3);

    // The journal of a run of this preset gives the same plan back to a resume
    // (that the journal's bytes give back the journal is the journal target's).
    runner::Options options;
    const records::JournalPlan journal = runner::journalPlanOf(p, options, records::LogLayout::Csv);
    runner::PresetPlan resumed;
    runner::Options resumedOptions;
    FUZZ_CHECK(!runner::presetFromJournal(journal, &resumed, &resumedOptions));
    FUZZ_CHECK(resumed.plan.temperature.points == plan.temperature.points);
    FUZZ_CHECK(resumed.plan.pressure.points == plan.pressure.points);
    FUZZ_CHECK(resumed.pFrom == p.pFrom && resumed.pTo == p.pTo && resumed.pDelta == p.pDelta);
    FUZZ_CHECK(resumed.tFrom == p.tFrom && resumed.tTo == p.tTo && resumed.tDelta == p.tDelta);
    FUZZ_CHECK(resumed.pulseWidth == p.pulseWidth);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = fuzzsupport::bytes(data, size);
    const runner::PresetCheck check = runner::presetPlanFromText(text, QStringLiteral("p.ini"));
    const QMap<QString, QString> keys = records::presetKeyTexts(text);
    const records::PresetReadResult read = records::presetFromKeys(keys);
    if (!check.ok) {
        FUZZ_CHECK(check.error.startsWith(QLatin1String("--preset: ")));
        return 0;
    }
    FUZZ_CHECK(check.error.isEmpty());
    // A unit other than the window's three is refused, never run in bar.
    FUZZ_CHECK(!keys.contains(QStringLiteral("Main/UNITS")) || read.values.unitFactor);
    checkPlan(check.preset, read);
    return 0;
}
