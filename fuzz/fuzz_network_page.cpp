// The serial device server's network page, as the IP settings dialog reads it.
// Input: the page's body bytes.
#include "fuzzsupport.h"
#include "ipv4address.h"
#include "webforms.h"

#include <QRegularExpression>

namespace {

bool operator==(const netconfig::NetworkSettings& a, const netconfig::NetworkSettings& b)
{
    return a.ipAddress == b.ipAddress && a.subnetMask == b.subnetMask &&
           a.defaultGateway == b.defaultGateway;
}

// A setting is either kept or a dotted quad of digits found on the page.
void checkSetting(const QString& value, const QString& kept, const QString& page)
{
    if (value == kept)
        return;
    static const QRegularExpression dottedDigits(
        QRegularExpression::anchoredPattern(QStringLiteral("\\d+\\.\\d+\\.\\d+\\.\\d+")),
        QRegularExpression::UseUnicodePropertiesOption);
    FUZZ_CHECK(dottedDigits.match(value).hasMatch());
    FUZZ_CHECK(page.contains(value));
}

const char kAllFields[] =
    "<INPUT NAME=\"ip_address\" SIZE=\"15\" MAXLENGTH=\"15\" VALUE=\"10.1.2.3\">"
    "<INPUT NAME=\"subnet_mask\" SIZE=\"15\" MAXLENGTH=\"15\" VALUE=\"255.0.0.0\">"
    "<INPUT NAME=\"default_gateway\" SIZE=\"15\" MAXLENGTH=\"15\" VALUE=\"10.1.2.1\">";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray page = fuzzsupport::bytes(data, size);
    // Values that no page can produce, so a kept setting is recognised.
    netconfig::NetworkSettings current;
    current.ipAddress = QStringLiteral("kept ip");
    current.subnetMask = QStringLiteral("kept mask");
    current.defaultGateway = QStringLiteral("kept gateway");

    const netconfig::NetworkSettings found = netconfig::parseNetworkPage(page, current);
    const int zero = int(page.indexOf('\0'));
    const QString text = QString::fromUtf8(zero < 0 ? page : page.left(zero));
    checkSetting(found.ipAddress, current.ipAddress, text);
    checkSetting(found.subnetMask, current.subnetMask, text);
    checkSetting(found.defaultGateway, current.defaultGateway, text);

    // Nothing after the first zero byte counts.
    FUZZ_CHECK(netconfig::parseNetworkPage(page + '\0' + kAllFields, current) == found);

    // The dialog's own checks and the form built from what it would show.
    if (netconfig::invalidFieldsMessage(found).isEmpty()) {
        // Every value sent is an address in its plain form, nothing smuggled in.
        const QByteArray query = netconfig::networkFormQuery(found);
        for (const char* field : {"ip_address", "subnet_mask", "default_gateway"}) {
            const QByteArray key = QByteArray("&") + field + '=';
            const int from = int(query.indexOf(key));
            FUZZ_CHECK(from >= 0);
            const int start = from + int(key.size());
            const QString sent =
                QString::fromLatin1(query.mid(start, query.indexOf('&', start) - start));
            FUZZ_CHECK(ipv4::isDottedAddress(sent));
            FUZZ_CHECK(ipv4::plainDecimal(sent) == sent);
        }
    }
    return 0;
}
