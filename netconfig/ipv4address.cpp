#include "ipv4address.h"

#include <QRegularExpression>
#include <QStringList>

namespace ipv4 {

bool isDottedAddress(const QString& text)
{
    // The whole text: \A and \z, as '$' would also accept a final LF. Compiled once.
    static const QRegularExpression pattern = [] {
        const QString octet = QStringLiteral("(?:[0-1]?[0-9]?[0-9]|2[0-4][0-9]|25[0-5])");
        return QRegularExpression(QRegularExpression::anchoredPattern(
            octet + QStringLiteral("\\.") + octet + QStringLiteral("\\.") + octet +
            QStringLiteral("\\.") + octet));
    }();
    return pattern.match(text).hasMatch();
}

QString plainDecimal(const QString& dottedAddress)
{
    QStringList octets = dottedAddress.split(QLatin1Char('.'));
    for (QString& octet : octets)
        octet = QString::number(octet.toInt(nullptr, 10));
    return octets.join(QLatin1Char('.'));
}

} // namespace ipv4
