// Sweep planning: the two axes, their step previews and the reference point.
#include "tempsensor.h"

#include "operatordialogs.h"
#include "sweep.h"
#include "units.h"

void TempSensor::useAutoT(bool on)
{
    for (QWidget* w :
         {static_cast<QWidget*>(ui.autoTminEdit), static_cast<QWidget*>(ui.autoTmaxEdit),
          static_cast<QWidget*>(ui.autoTdeltaEdit), static_cast<QWidget*>(ui.autoTminLabel),
          static_cast<QWidget*>(ui.autoTmaxLabel), static_cast<QWidget*>(ui.autoTdeltaLabel),
          static_cast<QWidget*>(ui.autoTminLabel2), static_cast<QWidget*>(ui.autoTmaxLabel2),
          static_cast<QWidget*>(ui.autoTdeltaLabel2), static_cast<QWidget*>(ui.autoTsteps),
          static_cast<QWidget*>(ui.progressBarT)})
        w->setEnabled(on);
    temperatureSweepOn = on;
    const bool startable = on || pressureSweepOn;
    ui.autoStartButton->setEnabled(startable);
    ui.rpBox->setEnabled(startable);
}

void TempSensor::useAutoP(bool on)
{
    for (QWidget* w :
         {static_cast<QWidget*>(ui.autoPminEdit), static_cast<QWidget*>(ui.autoPmaxEdit),
          static_cast<QWidget*>(ui.autoPdeltaEdit), static_cast<QWidget*>(ui.autoPminLabel),
          static_cast<QWidget*>(ui.autoPmaxLabel), static_cast<QWidget*>(ui.autoPdeltaLabel),
          static_cast<QWidget*>(ui.autoPminLabel2), static_cast<QWidget*>(ui.autoPmaxLabel2),
          static_cast<QWidget*>(ui.autoPdeltaLabel2), static_cast<QWidget*>(ui.autoPsteps),
          static_cast<QWidget*>(ui.progressBarP)})
        w->setEnabled(on);
    pressureSweepOn = on;
    const bool startable = on || temperatureSweepOn;
    ui.autoStartButton->setEnabled(startable);
    ui.rpBox->setEnabled(startable);
}

void TempSensor::calcStepsT(double)
{
    const sweep::TemperatureAxis axis = sweep::planTemperature(
        ui.autoTminEdit->value(), ui.autoTmaxEdit->value(), ui.autoTdeltaEdit->value());
    tEnd = axis.end;
    tStart = axis.start;
    tDelta = axis.delta;
    tPoints = qint16(axis.points);
    ui.autoTsteps->setText(tr("Steps: %1").arg(axis.points));
}

void TempSensor::calcStepsP(double)
{
    const sweep::PressureAxis axis =
        sweep::planPressure(ui.autoPminEdit->value(), ui.autoPmaxEdit->value(),
                            ui.autoPdeltaEdit->value(), pressureUnitFactor);
    pEnd = axis.end;
    pStart = axis.start;
    pDelta = axis.delta;
    pPoints = qint16(axis.points);
    ui.autoPsteps->setText(tr("Steps: %1").arg(axis.points));
}

void TempSensor::setRP(bool)
{
    QString label;
    switch (units::unitFromFactor(pressureUnitFactor)) {
    case units::PressureUnit::Bar:
        label = QStringLiteral("Set reference P(Bar)");
        break;
    case units::PressureUnit::Kpa:
        label = QStringLiteral("Set reference P(kPa)");
        break;
    case units::PressureUnit::Psi:
        label = QStringLiteral("Set reference P(psi)");
        break;
    case units::PressureUnit::Unknown:
        break;
    }
    OperatorDialogs& dialogs = OperatorDialogs::instance();
    refP = dialogs.getDouble(this, tr("Set P.ref"), label, refP, 0.0, 4.0 * pressureUnitFactor, 1,
                             nullptr, Qt::WindowFlags());
    refT = dialogs.getDouble(this, tr("Set T.ref"), QStringLiteral("Set reference T(C)"), refT, 0.0,
                             60.0, 1, nullptr, Qt::WindowFlags());
}
