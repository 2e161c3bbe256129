// The simulated N2 and O2 flow controllers: ASCII lines ending in CR.
#include "engine.h"

#include "wire.h"

#include <algorithm>

namespace boxsim {
namespace detail {

namespace {

constexpr int kMaxFlowLine = 256;

} // namespace

void Engine::flowInput(Connection& c)
{
    for (;;) {
        const int end = c.input.indexOf('\r');
        if (end < 0)
            break;
        QByteArray line = c.input.left(end);
        c.input.remove(0, end + 1);
        // The window's poll ends in CR NUL; a stray LF is no part of a command either.
        line.replace('\0', QByteArray()).replace('\n', QByteArray());
        if (!line.isEmpty())
            flowLine(c, line);
        if (c.closing)
            return;
    }
    if (c.input.size() > kMaxFlowLine)
        c.input.clear();
}

void Engine::flowLine(Connection& c, const QByteArray& line)
{
    QByteArray what;
    QByteArray data;
    bool reply = true;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->advance();
        FlowState& f = s->flow(c.device);
        const QByteArray rest = line.mid(1);
        if (line.size() == 4 && line.startsWith("*@=") && line.at(3) >= 'A' && line.at(3) <= 'Z') {
            f.unit = line.at(3);
            what = QByteArray("unit id ") + f.unit;
        } else if (line.at(0) != f.unit) {
            what = QByteArray("not for unit ") + f.unit + ", ignored";
            reply = false;
        } else if (rest.isEmpty()) {
            what = "poll";
        } else if (rest.startsWith("$$W")) {
            const int eq = rest.indexOf('=');
            const QByteArray reg = rest.mid(3, eq - 3);
            const QByteArray value = rest.mid(eq + 1);
            if (eq > 3 && wire::isDecimal(reg, false) && wire::isDecimal(value, true)) {
                f.registers[reg.toInt()] = value.toInt();
                what = "register " + reg + " = " + value;
            } else {
                what = "unknown command, ignored";
                reply = false;
            }
        } else if (rest.startsWith("$$") && wire::isDecimal(rest.mid(2), false) &&
                   rest.mid(2).toInt() < wire::gasCount()) {
            f.gas = rest.mid(2).toInt();
            what = "gas " + wire::gasName(f.gas);
        } else if (wire::isDecimal(rest, true) && rest.size() <= 10 &&
                   s->faults[c.device].loseSetPoints > 0) {
            --s->faults[c.device].loseSetPoints;
            what = "set point " + rest + " lost, no answer";
            reply = false;
        } else if (wire::isDecimal(rest, true) && rest.size() <= 10) {
            const qint64 counts = std::clamp<qint64>(rest.toLongLong(), 0, 64000);
            f.mass.target = double(counts) * f.fullScale / 64000.0;
            what = "set point " + QByteArray::number(counts) +
                   " counts = " + QByteArray::number(f.mass.target, 'f', 4) + " slpm";
        } else {
            what = "unknown command, ignored";
            reply = false;
        }
        if (reply) {
            const double mass = f.mass.value;
            // Volumetric flow at the line's 24.5 C and 14.70 psia.
            const double volumetric = mass * (273.15 + 24.5) / 298.15 * 14.696 / 14.70;
            data = wire::flowDataLine(f.unit, 14.70, 24.50, volumetric, mass, f.mass.target,
                                      wire::gasName(f.gas));
        }
    }
    recordFrame(c, line + '\r', what);
    if (reply)
        answer(c, data, s->clockMs());
}

} // namespace detail
} // namespace boxsim
