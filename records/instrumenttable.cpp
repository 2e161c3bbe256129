#include "instrumenttable.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <functional>
#include <vector>

namespace records {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("InstrumentTable", text);
}

struct Key
{
    const char* section;
    const char* key;
    std::function<double&(uncertainty::InstrumentTable&)> field;
};

const std::vector<Key>& keys()
{
    using Table = uncertainty::InstrumentTable;
    static const std::vector<Key> all{
        {"TemperatureSensor", "a", [](Table& t) -> double& { return t.sensorA; }},
        {"TemperatureSensor", "b", [](Table& t) -> double& { return t.sensorB; }},
        {"TemperatureController", "resolution",
         [](Table& t) -> double& { return t.controllerResolution; }},
        {"N2", "full_scale", [](Table& t) -> double& { return t.n2.fullScale; }},
        {"N2", "of_reading", [](Table& t) -> double& { return t.n2.ofReading; }},
        {"N2", "of_full_scale", [](Table& t) -> double& { return t.n2.ofFullScale; }},
        {"N2", "resolution", [](Table& t) -> double& { return t.n2.resolution; }},
        {"O2", "full_scale", [](Table& t) -> double& { return t.o2.fullScale; }},
        {"O2", "of_reading", [](Table& t) -> double& { return t.o2.ofReading; }},
        {"O2", "of_full_scale", [](Table& t) -> double& { return t.o2.ofFullScale; }},
        {"O2", "resolution", [](Table& t) -> double& { return t.o2.resolution; }},
    };
    return all;
}

QString named(const QString& section, const QString& key)
{
    return QStringLiteral("[%1] %2").arg(section, key);
}

} // namespace

std::optional<uncertainty::InstrumentTable> instrumentTableFromText(const QByteArray& text,
                                                                    QString* error)
{
    const auto fail = [error](const QString& why) -> std::optional<uncertainty::InstrumentTable> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    uncertainty::InstrumentTable table;
    std::vector<bool> seen(keys().size(), false);
    QString section;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        const int comment = line.indexOf(QRegularExpression(QStringLiteral("[;#]")));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QString where = tr("line %1").arg(i + 1);
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            bool known = false;
            for (const Key& k : keys())
                known = known || section == QLatin1String(k.section);
            if (!known)
                return fail(
                    tr("%1: [%2] is not a section of the instrument table").arg(where, section));
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(tr("%1: \"%2\" is neither a [section] nor key = value").arg(where, line));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        std::size_t index = 0;
        while (index < keys().size() && (section != QLatin1String(keys()[index].section) ||
                                         key != QLatin1String(keys()[index].key)))
            ++index;
        if (index == keys().size())
            return fail(
                tr("%1: %2 is not a key of the instrument table").arg(where, named(section, key)));
        if (seen[index])
            return fail(tr("%1: %2 is given twice").arg(where, named(section, key)));
        seen[index] = true;
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || !std::isfinite(number))
            return fail(
                tr("%1: %2 is not a number (\"%3\")").arg(where, named(section, key), value));
        if (number < 0)
            return fail(tr("%1: %2 is negative (%3)").arg(where, named(section, key), value));
        keys()[index].field(table) = number;
    }
    for (std::size_t i = 0; i < keys().size(); ++i) {
        if (!seen[i])
            return fail(
                tr("%1 is missing")
                    .arg(named(QLatin1String(keys()[i].section), QLatin1String(keys()[i].key))));
    }
    return table;
}

std::optional<uncertainty::InstrumentTable> readInstrumentTable(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = tr("can't read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QString why;
    const auto table = instrumentTableFromText(file.readAll(), &why);
    if (!table && error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return table;
}

uncertainty::InstrumentTable typicalInstrumentTable()
{
    // The example is checked by the tests: it always reads.
    return instrumentTableFromText(typicalInstrumentTableText())
        .value_or(uncertainty::InstrumentTable());
}

QString typicalInstrumentTableName()
{
    return tr("typical values (built in; replace them with your instruments' certificates)");
}

} // namespace records
