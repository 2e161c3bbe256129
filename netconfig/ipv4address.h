#pragma once

#include <QString>

namespace ipv4 {

// Four dotted decimal octets 0..255 of one to three digits each, leading zeros
// allowed, nothing else (no blanks).
bool isDottedAddress(const QString& text);

// The same address without leading zeros (010.1.1.001 -> 10.1.1.1). Address
// parsers may read a leading zero as octal, so the program only ever connects
// to, stores and shows this form.
QString plainDecimal(const QString& dottedAddress);

} // namespace ipv4
