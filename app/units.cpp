// Pressure units: the unit dialog and the ranges of the pressure inputs.
#include "tempsensor.h"

#include "inputranges.h"
#include "operatordialogs.h"
#include "units.h"

#include <cmath>

void TempSensor::applyUnitRanges()
{
    const units::PressureUnit unit = units::unitFromFactor(pressureUnitFactor);
    if (unit != units::PressureUnit::Unknown) {
        const inputs::PressureBoxes boxes = inputs::pressureBoxes(pressureUnitFactor);
        const QString label = units::unitLabel(unit);
        for (QLabel* l :
             {ui.label_7, ui.label_15, ui.autoPminLabel2, ui.autoPmaxLabel2, ui.autoPdeltaLabel2})
            l->setText(label);
        // Every setter below may fire valueChanged and so recompute the sweep
        // plan; the boxes keep their limits as given whatever their decimals.
        auto setUp = [&boxes](QDoubleSpinBox* box, const inputs::SpinRange& range, double value) {
            box->setDecimals(range.decimals);
            box->setRange(range.minimum, range.maximum);
            box->setSingleStep(boxes.step);
            box->setValue(value);
        };
        setUp(ui.autoPdeltaEdit, boxes.delta, boxes.delta.minimum);
        setUp(ui.autoPmaxEdit, boxes.range, boxes.range.maximum);
        setUp(ui.autoPminEdit, boxes.range, 0);
        setUp(ui.setPValue, boxes.range, 0);
    }
    // The sweep follows the new unit even if no spin-box value changed.
    calcStepsP(0.0);
    tellShownSetPoints();
}

void TempSensor::setUnits()
{
    const QStringList items = {tr("Bar"), tr("Pascal"), tr("psi")};
    int current = 0;
    if (pressureUnitFactor == units::kKpaFactor)
        current = 1;
    else if (pressureUnitFactor == units::kPsiFactor)
        current = 2;
    previousUnitFactor = pressureUnitFactor;
    bool ok = false;
    const QString item = OperatorDialogs::instance().getItem(
        this, tr("Change Pressure Units"), tr("Pressure Units:"), items, current, false, &ok,
        Qt::WindowFlags(), Qt::ImhNone);
    if (ok && item == QLatin1String("Bar"))
        pressureUnitFactor = units::kBarFactor;
    if (item == QLatin1String("Pascal"))
        pressureUnitFactor = units::kKpaFactor;
    if (item == QLatin1String("psi"))
        pressureUnitFactor = units::kPsiFactor;
    if (std::fabs(previousUnitFactor - pressureUnitFactor) > 0)
        applyUnitRanges();
}
