// The window opened by "Live View...": it shows the session's record of every
// reading and event, from the first connection on, and the run's progress.
#include "tempsensor.h"

#include "liveview.h"
#include "units.h"

#include <QDateTime>

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
        feed.pulseStage = [this] { return session->pulseStage(); };
        feed.nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
        liveView = new LiveView(session->history(), session->controller(), session->tracker(),
                                *settings, feed, this);
    }
    liveView->show();
    liveView->raise();
    liveView->activateWindow();
}
