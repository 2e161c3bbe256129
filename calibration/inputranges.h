#pragma once

// The ranges of the window's inputs that a plan is made of: the sweep's spin
// boxes, the pulse timing dialogs and the reference point dialogs. A run
// planned anywhere else (a preset, a run journal) goes through the same.
namespace inputs {

// A spin box's range and decimals: a value is rounded to the decimals, then
// clamped, as the box does when it is given one.
struct SpinRange
{
    double minimum;
    double maximum;
    int decimals;
};
double spinBoxValue(double value, const SpinRange& range);
// A finite value that the box shows unchanged.
bool fitsSpinBox(double value, const SpinRange& range);

// The temperature boxes ("From:", "To:", the manual set point) and the step box.
constexpr SpinRange kTemperatureRange{-25.0, 90.0, 1};
constexpr SpinRange kTemperatureStepRange{0.1, 70.0, 1};
// The pressure boxes of the sweep in a unit (delta: the step box).
SpinRange pressureRange(double unitFactor, bool delta);

// Every pressure box in a unit: the set point, "From:" and "To:" share a
// range; the step box has its own. The arrows move by `step`; a new unit
// starts the step box at its minimum, "To:" at its maximum, the others at 0.
struct PressureBoxes
{
    SpinRange range;
    SpinRange delta;
    double step;
};
PressureBoxes pressureBoxes(double unitFactor);

// The pulse timing dialogs.
constexpr int kMaxPulsesPerPoint = 99;

// The reference point dialogs: P from 0 to 4 bar in the unit, T from 0 to
// 60 C, one decimal each.
constexpr double kMaxReferenceBar = 4.0;
constexpr int kReferenceDecimals = 1;
constexpr SpinRange kReferenceTemperatureRange{0.0, 60.0, kReferenceDecimals};
SpinRange referencePressureRange(double unitFactor);

} // namespace inputs
