// Temperature commands and the live temperature reading.
#include "tempsensor.h"

#include "operatordialogs.h"

#include <QCursor>

#include <cmath>

namespace {

const char* const kInRangeStyle = "color:black;background-color:QLinearGradient( x1: 0, y1: 0, "
                                  "x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #39db26);";
const char* const kOutOfRangeStyle = "color:black;background-color:QLinearGradient( x1: 0, y1: "
                                     "0, x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #edf924);";

} // namespace

void TempSensor::initTempCtrl()
{
    session->initialise(
        [this] {
            statusBar()->showMessage(tr("Please wait, initializing controllers..."), 4000);
            OperatorDialogs::instance().setOverrideCursor(QCursor(Qt::WaitCursor));
        },
        [this] {
            OperatorDialogs::instance().restoreOverrideCursor();
            OperatorDialogs::instance().warning(this, tr("Baroterm"),
                                                tr("Initialization completed\n"), QMessageBox::Ok,
                                                QMessageBox::NoButton);
        });
}

// The command's own socket drains the echoes now; the slot keeps its place.
void TempSensor::readInitTemperatureCtrl() {}

void TempSensor::setTemperature()
{
    session->setTemperature();
}

// The command's own socket reads the echo now; the slot keeps its place.
void TempSensor::readSetTemperatureData() {}

void TempSensor::readTemperatureData() {}

void TempSensor::updateTemp(float t)
{
    setControlsEnabled(true);
    ui.curT->setText(QString::number(double(t), 'f', 1));
    // The bar shows the point the run waits for as soon as it is reached.
    const run::RunController& runController = session->controller();
    const int tIndex = runController.temperatureIndex();
    const int tSteps = runController.temperaturePoints();
    if (tIndex == tSteps && tIndex > 0)
        ui.progressBarT->setValue(tSteps);
    if (temperatureSweepOn && runController.walking() && tIndex < tSteps &&
        std::fabs(double(t) - (tIndex * tDelta + tStart)) < 0.09) {
        ui.progressBarT->setFormat(QStringLiteral("%1°").arg(double(t), 0, 'g', 6));
        ui.progressBarT->setValue(tIndex + 1);
        ui.progressBarT->setTextVisible(true);
    }
}

void TempSensor::colourReadouts()
{
    // Re-applying an unchanged style sheet re-polishes the widget on every
    // reading; most of the idle CPU went there.
    auto setStyle = [](QLineEdit* readout, const char* style) {
        const QString sheet = QString::fromLatin1(style);
        if (readout->styleSheet() != sheet)
            readout->setStyleSheet(sheet);
    };
    const bool tInRange = std::fabs(ui.setT->value() - ui.curT->text().toDouble()) < 0.1;
    setStyle(ui.curT, tInRange ? kInRangeStyle : kOutOfRangeStyle);
    const bool pInRange = std::fabs(ui.setPValue->value() - ui.curP->text().toDouble()) < 0.005;
    setStyle(ui.curP, pInRange ? kInRangeStyle : kOutOfRangeStyle);
}
