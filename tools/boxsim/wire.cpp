#include "wire.h"

#include <cstdio>

namespace boxsim {
namespace wire {

namespace {

const char* const kGases[] = {
    "Air",  "Ar",   "CH4",  "CO",      "CO2",  "C2H6", "H2",      "He",    "N2",     "N2O",
    "Ne",   "O2",   "C3H8", "n-C4H10", "C2H2", "C2H4", "i-C2H10", "Kr",    "Xe",     "SF6",
    "C-25", "C-10", "C-8",  "C-2",     "C-75", "A-75", "A-25",    "A1025", "Star29", "P-5"};

QByteArray htmlEscape(const QString& text)
{
    QByteArray out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += QString(c).toUtf8();
        }
    }
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray textField(const char* name, const QString& value)
{
    return QByteArray("<INPUT TYPE=\"text\" NAME=\"") + name +
           "\" SIZE=\"15\" MAXLENGTH=\"15\" VALUE=\"" + htmlEscape(value) + "\">";
}

} // namespace

quint16 modbusCrc(const QByteArray& bytes)
{
    quint16 crc = 0xFFFF;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray withCrc(const QByteArray& frame)
{
    const quint16 crc = modbusCrc(frame);
    QByteArray out = frame;
    out.append(char(crc & 0xFF));
    out.append(char(crc >> 8));
    return out;
}

bool crcMatches(const QByteArray& frame)
{
    if (frame.size() < 3)
        return false;
    return withCrc(frame.left(frame.size() - 2)) == frame;
}

bool isDecimal(const QByteArray& text, bool allowMinus)
{
    int i = (allowMinus && text.startsWith('-')) ? 1 : 0;
    if (i >= text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text.at(i) < '0' || text.at(i) > '9')
            return false;
    }
    return true;
}

int gasCount()
{
    return int(sizeof(kGases) / sizeof(kGases[0]));
}

QByteArray gasName(int index)
{
    if (index < 0 || index >= gasCount())
        return QByteArray();
    return QByteArray(kGases[index]);
}

QByteArray flowDataLine(char unit, double pressurePsia, double temperatureC, double volumetric,
                        double mass, double setPoint, const QByteArray& gas)
{
    // "+ 0.0" keeps a negative zero from printing as "-000.000".
    char text[160];
    std::snprintf(text, sizeof text, "%c %+07.2f %+07.2f %+08.3f %+08.3f %07.3f ", unit,
                  pressurePsia + 0.0, temperatureC + 0.0, volumetric + 0.0, mass + 0.0,
                  qMax(0.0, setPoint) + 0.0);
    return QByteArray(text) + gas + '\r';
}

QByteArray percentDecode(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexDigit(text.at(i + 1)) >= 0 &&
                   hexDigit(text.at(i + 2)) >= 0) {
            out += char(hexDigit(text.at(i + 1)) * 16 + hexDigit(text.at(i + 2)));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

QMap<QByteArray, QByteArray> parseQuery(const QByteArray& query)
{
    QMap<QByteArray, QByteArray> fields;
    for (const QByteArray& pair : query.split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        if (eq < 0)
            fields.insert(percentDecode(pair), QByteArray());
        else
            fields.insert(percentDecode(pair.left(eq)), percentDecode(pair.mid(eq + 1)));
    }
    return fields;
}

QByteArray networkPage(const NetworkSettings& settings)
{
    QByteArray page;
    page += "<HTML><HEAD><TITLE>Network Settings</TITLE></HEAD>\n<BODY>\n";
    page += "<FORM ACTION=\"/Forms/network_1\" METHOD=\"GET\">\n";
    page += "<INPUT TYPE=\"hidden\" NAME=\"g_PortsCount\" VALUE=\"4\">\n";
    page += "<INPUT TYPE=\"hidden\" NAME=\"g_GoAfterSubmit\" VALUE=\"save.html\">\n";
    page += "<TABLE>\n";
    page += "<TR><TD>IP address</TD><TD>" + textField("ip_address", settings.ipAddress) +
            "</TD></TR>\n";
    page += "<TR><TD>Subnet mask</TD><TD>" + textField("subnet_mask", settings.subnetMask) +
            "</TD></TR>\n";
    page += "<TR><TD>Default gateway</TD><TD>" +
            textField("default_gateway", settings.defaultGateway) + "</TD></TR>\n";
    page += "</TABLE>\n<INPUT TYPE=\"submit\" NAME=\"Submit\" VALUE=\"Save\">\n";
    page += "</FORM>\n</BODY></HTML>\n";
    return page;
}

QByteArray httpResponse(int status, const QByteArray& reason, const QByteArray& body)
{
    QByteArray out = "HTTP/1.0 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    out += "Content-Type: text/html\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out + body;
}

QByteArray printable(const QByteArray& bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        const quint8 u = quint8(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (u >= 0x20 && u < 0x7F)
            out += c;
        else
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
    }
    return out;
}

QByteArray hex(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
}

const char* deviceName(Device device)
{
    switch (device) {
    case Temperature:
        return "temperature";
    case N2:
        return "n2";
    case O2:
        return "o2";
    case Pulse:
        return "pulse";
    case Http:
        return "http";
    }
    return "?";
}

} // namespace wire
} // namespace boxsim
