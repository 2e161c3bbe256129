// The simulated pulse generator and the camera behind it.
#include "engine.h"

#include "wire.h"

namespace boxsim {
namespace detail {

void Engine::pulseInput(Connection& c)
{
    while (!c.closing) {
        // The generator waits for '#' or '$'; anything else before it is noise.
        int start = 0;
        while (start < c.input.size() && c.input.at(start) != '#' && c.input.at(start) != '$')
            ++start;
        c.input.remove(0, start);
        if (c.input.size() < 4)
            return;
        const QByteArray command = c.input.left(4);
        if (!wire::isDecimal(command.mid(1), false)) {
            c.input.remove(0, 1);
            continue;
        }
        c.input.remove(0, 4);

        const int widthMs = command.mid(1).toInt();
        const qint64 now = s->clockMs();
        QByteArray reply;
        // One millisecond more on every delay, so the clock's granularity
        // never makes an answer come before its time (the pulse, the camera).
        qint64 readyAt = now + widthMs + 1;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            s->advance();
            PulseTruth truth;
            truth.msecs = s->recordMs();
            truth.command = command;
            truth.sampleTemperatureC = s->temperature.value;
            truth.n2MassFlow = s->flows[0].mass.value;
            truth.o2MassFlow = s->flows[1].mass.value;
            truth.airPressureBar = s->airPressure();
            Faults& faults = s->faults[Pulse];
            truth.refused = faults.pulseFails || faults.failPulses > 0;
            if (faults.failPulses > 0)
                --faults.failPulses;
            s->pulseTruth.append(truth);

            const double scale = s->options.timeScale;
            if (truth.refused) {
                reply = "RR1\r";
            } else if (command.at(0) == '#') {
                reply = "KE1\r";
            } else if (s->options.cameraAnswers) {
                reply = "KE2\r";
                readyAt = qMax(readyAt, now + qint64(s->options.cameraDelayMs / scale) + 1);
            } else {
                reply = "RR2\r";
                readyAt = qMax(readyAt, now + qint64(5000.0 / scale) + 1);
            }
        }
        recordFrame(c, command, "pulse " + QByteArray::number(widthMs) + " ms");
        answer(c, reply, readyAt);
    }
}

} // namespace detail
} // namespace boxsim
