// Slots of the window whose behaviour is built in later steps. Each keeps its
// place in the window's slot table meanwhile.
#include "tempsensor.h"

#include "operatordialogs.h"

#include <QCloseEvent>

void TempSensor::pulsePerPoint() {}
void TempSensor::setWaitBeforePulse() {}
void TempSensor::setExtraWaitForZeroP() {}
void TempSensor::closeEvent(QCloseEvent* event)
{
    event->accept();
}
void TempSensor::readTemperatureData() {}
void TempSensor::readPulseFeedbackData() {}
void TempSensor::initTempCtrl() {}
void TempSensor::setTemperature() {}
void TempSensor::readSetTemperatureData() {}
void TempSensor::getPressure() {}
void TempSensor::setPressure(float, uchar) {}
void TempSensor::setGas(uint) {}
void TempSensor::readPressureDataN2() {}
void TempSensor::readPressureSet() {}
void TempSensor::readInitTemperatureCtrl() {}
void TempSensor::readGas() {}
void TempSensor::turnGas(bool) {}
void TempSensor::updateTemp(float) {}
void TempSensor::updateCurN2(float, float) {}
void TempSensor::updateCurO2(float, float) {}
void TempSensor::updateCurO2_(QString) {}
void TempSensor::setGas() {}
void TempSensor::setO2() {}
void TempSensor::initO2() {}
void TempSensor::autoStartCalibration(bool) {}
void TempSensor::chooseLogFile() {}
void TempSensor::autoCheck() {}
void TempSensor::doPulse() {}
void TempSensor::setUnits() {}
void TempSensor::setPulseWidth() {}
void TempSensor::tempCheckConnection() {}
void TempSensor::setLogFile(bool) {}
void TempSensor::changeIP() {}
void TempSensor::savePresets() {}
void TempSensor::loadPresets() {}

void TempSensor::setIPAddress()
{
    bool ok = false;
    const QString text = OperatorDialogs::instance().getText(
        this, tr("IP Settings "), tr("CalibrationBox IP Address:"), QLineEdit::Normal, boxAddress,
        &ok, Qt::WindowFlags(), Qt::ImhNone);
    Q_UNUSED(text);
}
