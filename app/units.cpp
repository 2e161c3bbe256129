// Pressure units: the unit dialog and the ranges of the pressure inputs.
#include "tempsensor.h"

#include "operatordialogs.h"
#include "units.h"

#include <cmath>

void TempSensor::applyUnitRanges()
{
    const units::PressureUnit unit = units::unitFromFactor(pressureUnitFactor);
    const QString label = units::unitLabel(unit);
    auto setUnitLabels = [this, &label] {
        for (QLabel* l :
             {ui.label_7, ui.label_15, ui.autoPminLabel2, ui.autoPmaxLabel2, ui.autoPdeltaLabel2})
            l->setText(label);
    };

    // Every call below may fire valueChanged and so recompute the sweep plan;
    // the order is the one the operator's spin boxes have always been set in.
    if (unit == units::PressureUnit::Bar) {
        for (QDoubleSpinBox* box : {ui.autoPdeltaEdit, ui.autoPminEdit, ui.autoPmaxEdit})
            box->setDecimals(2);
        ui.setPValue->setSingleStep(0.01);
        setUnitLabels();
        ui.autoPdeltaEdit->setMaximum(4.5);
        ui.autoPdeltaEdit->setMinimum(0.01);
        ui.autoPdeltaEdit->setValue(0.01);
        ui.autoPdeltaEdit->setSingleStep(0.01);
        ui.autoPmaxEdit->setMaximum(4.5);
        ui.autoPmaxEdit->setMinimum(0);
        ui.autoPmaxEdit->setSingleStep(0.01);
        ui.autoPmaxEdit->setValue(4.5);
        ui.autoPminEdit->setMaximum(4.5);
        ui.autoPminEdit->setMinimum(0);
        ui.autoPminEdit->setValue(0);
        ui.autoPminEdit->setSingleStep(0.01);
        ui.setPValue->setDecimals(2);
        ui.setPValue->setMaximum(4.5);
        ui.setPValue->setMinimum(0);
        ui.setPValue->setSingleStep(0.01);
        ui.setPValue->setValue(0);
    }
    if (unit == units::PressureUnit::Kpa) {
        for (QDoubleSpinBox* box : {ui.autoPdeltaEdit, ui.autoPminEdit, ui.autoPmaxEdit})
            box->setDecimals(0);
        ui.setPValue->setSingleStep(10);
        setUnitLabels();
        ui.autoPdeltaEdit->setMaximum(450);
        ui.autoPdeltaEdit->setMinimum(10);
        ui.autoPdeltaEdit->setValue(10);
        ui.autoPdeltaEdit->setSingleStep(10);
        ui.autoPmaxEdit->setMaximum(450);
        ui.autoPmaxEdit->setMinimum(0);
        ui.autoPmaxEdit->setValue(450);
        ui.autoPmaxEdit->setSingleStep(10);
        ui.autoPminEdit->setMaximum(450);
        ui.autoPminEdit->setMinimum(0);
        ui.autoPminEdit->setValue(0);
        ui.autoPminEdit->setSingleStep(10);
        ui.setPValue->setDecimals(0);
        ui.setPValue->setMaximum(450);
        ui.setPValue->setMinimum(0);
        ui.setPValue->setSingleStep(10);
        ui.setPValue->setValue(0);
    }
    if (unit == units::PressureUnit::Psi) {
        ui.setPValue->setSingleStep(1.45);
        setUnitLabels();
        ui.autoPdeltaEdit->setMaximum(58.0152);
        ui.autoPdeltaEdit->setMinimum(1.45);
        ui.autoPdeltaEdit->setDecimals(2);
        ui.autoPdeltaEdit->setValue(1.45);
        ui.autoPdeltaEdit->setSingleStep(1.45);
        ui.autoPmaxEdit->setMaximum(65.2671);
        ui.autoPmaxEdit->setMinimum(0);
        ui.autoPmaxEdit->setDecimals(2);
        ui.autoPmaxEdit->setValue(65.2671);
        ui.autoPmaxEdit->setSingleStep(1.45);
        ui.autoPminEdit->setDecimals(2);
        ui.autoPminEdit->setMaximum(65.2671);
        ui.autoPminEdit->setMinimum(0);
        ui.autoPminEdit->setValue(0);
        ui.autoPminEdit->setSingleStep(1.45);
        ui.setPValue->setDecimals(2);
        ui.setPValue->setMaximum(65.2671);
        ui.setPValue->setMinimum(0);
        ui.setPValue->setSingleStep(1.45);
        ui.setPValue->setValue(0);
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
