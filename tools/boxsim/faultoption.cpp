#include "faultoption.h"

#include <QStringList>

namespace boxsim {

namespace {

// Garbage texts may carry \r, \n, \t, \0, \\ and \xNN escapes.
bool unescape(const QString& text, QByteArray* out)
{
    const QByteArray in = text.toUtf8();
    out->clear();
    for (int i = 0; i < in.size(); ++i) {
        if (in.at(i) != '\\') {
            out->append(in.at(i));
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in.at(i)) {
        case 'r':
            out->append('\r');
            break;
        case 'n':
            out->append('\n');
            break;
        case 't':
            out->append('\t');
            break;
        case '0':
            out->append('\0');
            break;
        case '\\':
            out->append('\\');
            break;
        case 'x': {
            bool ok = false;
            const int value = in.mid(i + 1, 2).toInt(&ok, 16);
            if (!ok || i + 2 >= in.size())
                return false;
            out->append(char(value));
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

QList<Device> devicesOf(const QString& name, bool* ok)
{
    *ok = true;
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("temperature") || n == QLatin1String("temp") ||
        n == QLatin1String("4000"))
        return {Temperature};
    if (n == QLatin1String("n2") || n == QLatin1String("4001"))
        return {N2};
    if (n == QLatin1String("o2") || n == QLatin1String("4002"))
        return {O2};
    if (n == QLatin1String("pulse") || n == QLatin1String("4003"))
        return {Pulse};
    if (n == QLatin1String("http") || n == QLatin1String("web"))
        return {Http};
    if (n == QLatin1String("all"))
        return {Temperature, N2, O2, Pulse, Http};
    *ok = false;
    return {};
}

bool applyMode(const QString& item, Faults& f, QString* error)
{
    const int eq = item.indexOf(QLatin1Char('='));
    const QString mode = (eq < 0 ? item : item.left(eq)).trimmed().toLower();
    const bool hasValue = eq >= 0;
    const QString value = hasValue ? item.mid(eq + 1) : QString();
    bool ok = true;
    auto number = [&]() {
        const int n = value.toInt(&ok);
        ok = ok && n >= 0;
        return n;
    };

    if (mode == QLatin1String("refuse") && !hasValue) {
        f.refuse = true;
    } else if (mode == QLatin1String("silent") && !hasValue) {
        f.silent = true;
    } else if (mode == QLatin1String("delay") && hasValue) {
        f.delayMs = number();
    } else if (mode == QLatin1String("split")) {
        f.split = true;
        if (hasValue)
            f.splitPauseMs = number();
    } else if (mode == QLatin1String("garbage-before") && hasValue) {
        ok = unescape(value, &f.garbageBefore) && !f.garbageBefore.isEmpty();
    } else if (mode == QLatin1String("garbage-instead")) {
        f.garbageInstead = true;
        if (hasValue)
            ok = unescape(value, &f.garbageBefore) && !f.garbageBefore.isEmpty();
    } else if (mode == QLatin1String("drop-after") && hasValue) {
        f.dropAfterAnswers = number();
    } else if (mode == QLatin1String("single-connection") && !hasValue) {
        f.singleConnection = true;
    } else if (mode == QLatin1String("bad-crc") && !hasValue) {
        f.badCrc = true;
    } else if (mode == QLatin1String("exception") && !hasValue) {
        f.exceptionAnswers = true;
    } else if (mode == QLatin1String("fails")) {
        if (hasValue)
            f.failPulses = number();
        else
            f.pulseFails = true;
    } else if (mode == QLatin1String("lose-set-points") && hasValue) {
        f.loseSetPoints = number();
    } else {
        *error = QStringLiteral("unknown fault mode \"%1\"").arg(item);
        return false;
    }
    if (!ok)
        *error = QStringLiteral("bad value in fault mode \"%1\"").arg(item);
    return ok;
}

} // namespace

bool applyFaultOption(const QString& text, std::array<Faults, kDeviceCount>& faults, QString* error)
{
    QString message;
    const int colon = text.indexOf(QLatin1Char(':'));
    bool ok = colon > 0;
    const QList<Device> devices = ok ? devicesOf(text.left(colon), &ok) : QList<Device>();
    if (!ok) {
        message = QStringLiteral("fault \"%1\": expected DEVICE:MODE with DEVICE one of "
                                 "temperature, n2, o2, pulse, http, all")
                      .arg(text);
    }
    std::array<Faults, kDeviceCount> result = faults;
    if (ok) {
        const QStringList modes = text.mid(colon + 1).split(QLatin1Char(','));
        for (const QString& mode : modes) {
            for (Device device : devices) {
                if (!applyMode(mode, result[size_t(device)], &message)) {
                    ok = false;
                    break;
                }
            }
            if (!ok)
                break;
        }
    }
    if (!ok) {
        if (error)
            *error = message;
        return false;
    }
    faults = result;
    return true;
}

QString faultOptionHelp()
{
    return QStringLiteral(
        "Faults: --fault DEVICE:MODE[=VALUE][,MODE[=VALUE]...], as often as needed.\n"
        "  DEVICE: temperature (4000), n2 (4001), o2 (4002), pulse (4003), http, all\n"
        "  refuse               close every connection right after accepting it\n"
        "  silent               read requests, never answer\n"
        "  delay=MS             send every answer MS later (not time-scaled)\n"
        "  split[=MS]           send every answer in two segments, MS apart (30)\n"
        "  garbage-before=TEXT  send TEXT before every answer (escapes \\r \\n \\xNN)\n"
        "  garbage-instead[=TEXT] send TEXT (or a few junk bytes) instead of answers\n"
        "  drop-after=N         close the connection after N answers\n"
        "  single-connection    close a second concurrent connection at once\n"
        "  bad-crc              temperature: answers carry a wrong CRC\n"
        "  exception            temperature: Modbus exception answers\n"
        "  fails                pulse: every pulse answers RR1\n"
        "  lose-set-points=N    the next N set points are neither kept nor answered\n"
        "Examples: --fault temperature:split  --fault o2:garbage-instead\n"
        "          --fault pulse:silent  --fault n2:delay=300,drop-after=5\n");
}

} // namespace boxsim
