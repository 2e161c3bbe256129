// What the live view shows: every reading and event goes into the record from
// the first connection on, whether the view is open or not.
#include "tempsensor.h"

#include "liveview.h"
#include "units.h"

#include <QDateTime>

void TempSensor::recordReading()
{
    history::Sample sample;
    sample.atMs = QDateTime::currentMSecsSinceEpoch();
    sample.v[history::Temperature] =
        temperatureRead ? model.lastTemperatureReading() : history::kUnknown;
    sample.v[history::TemperatureSet] = float(ui.setT->value());
    const float pressure = model.airPressureBar();
    sample.v[history::Pressure] = pressure < 0 ? history::kUnknown : pressure;
    // With the gas off no pressure is asked for.
    sample.v[history::PressureSet] =
        model.gasOff() ? history::kUnknown
                       : float(units::toBar(ui.setPValue->value(), pressureUnitFactor));
    sample.v[history::N2] = lastN2Reading;
    sample.v[history::O2] = lastO2Reading;
    readings.addSample(sample);
}

void TempSensor::recordEvent(history::EventKind kind, const QString& text)
{
    readings.addEvent(QDateTime::currentMSecsSinceEpoch(), kind, text);
}

LiveView* TempSensor::liveViewWindow() const
{
    return liveView;
}

void TempSensor::showLiveView()
{
    if (!liveView) {
        LiveView::Feed feed;
        feed.unitFactor = [this] { return pressureUnitFactor; };
        feed.unitLabel = [this] {
            const QString label = units::unitLabel(units::unitFromFactor(pressureUnitFactor));
            return label.isEmpty() ? QStringLiteral("bar") : label;
        };
        feed.fixedWaits = [this] {
            progress::FixedWaits waits;
            waits.waitBeforePulseS = waitBeforePulse;
            waits.extraWaitAtZeroS = extraWaitForZeroP;
            waits.pulsesPerPoint = pulsesPerPoint;
            waits.delayBetweenPulsesS = delayBetweenPulses;
            return waits;
        };
        feed.pulseStage = [this] { return pulseStage; };
        feed.nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
        liveView = new LiveView(readings, runController, runTracker, *settings, feed, this);
    }
    liveView->show();
    liveView->raise();
    liveView->activateWindow();
}
