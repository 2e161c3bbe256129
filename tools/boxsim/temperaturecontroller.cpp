// The simulated temperature controller: a Modbus RTU slave 1 on the raw stream.
#include "engine.h"

#include "wire.h"

namespace boxsim {
namespace detail {

void Engine::temperatureInput(Connection& c)
{
    while (c.input.size() >= 8 && !c.closing) {
        const QByteArray frame = c.input.left(8);
        c.input.remove(0, 8);
        const quint8 slave = quint8(frame.at(0));
        const quint8 function = quint8(frame.at(1));
        const int reg = (quint8(frame.at(2)) << 8) | quint8(frame.at(3));
        const int value = (quint8(frame.at(4)) << 8) | quint8(frame.at(5));

        if (!wire::crcMatches(frame)) {
            recordFrame(c, frame, "bad CRC, ignored");
            continue;
        }
        if (slave != 1 && slave != 0) {
            recordFrame(c, frame, "slave " + QByteArray::number(slave) + ", ignored");
            continue;
        }

        QByteArray reply;
        QByteArray what;
        auto exception = [&](quint8 code) {
            reply = wire::withCrc(QByteArray() + char(slave) + char(function | 0x80) + char(code));
            what += " -> exception " + QByteArray::number(code);
        };
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            s->advance();
            const bool refuse = s->faults[Temperature].exceptionAnswers;
            if (function == 0x03 || function == 0x04) {
                what = "read " + QByteArray::number(reg) + " x" + QByteArray::number(value);
                if (refuse) {
                    exception(0x02);
                } else if (value < 1 || value > 125) {
                    exception(0x03);
                } else {
                    reply = QByteArray() + char(slave) + char(function) + char(value * 2);
                    for (int i = 0; i < value; ++i) {
                        const int v = s->inputRegister(reg + i);
                        reply += char(v >> 8);
                        reply += char(v & 0xFF);
                    }
                    reply = wire::withCrc(reply);
                }
            } else if (function == 0x06) {
                what =
                    "write " + QByteArray::number(reg) + " = " + QByteArray::number(qint16(value));
                int& lose = s->faults[Temperature].loseSetPoints;
                if (refuse) {
                    exception(0x04);
                } else if (reg == 1002 && lose > 0) {
                    --lose;
                    what += " (lost, no answer)";
                } else {
                    s->registers[reg] = value;
                    if (reg == 1002)
                        s->temperature.target = qint16(value) / 10.0;
                    reply = frame;
                }
            } else {
                what = "function " + QByteArray::number(function);
                exception(0x01);
            }
        }
        recordFrame(c, frame, what);
        if (slave != 0 && !reply.isEmpty()) // broadcasts are carried out, never answered
            answer(c, reply, s->clockMs());
    }
}

} // namespace detail
} // namespace boxsim
