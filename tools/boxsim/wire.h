#pragma once

#include "boxsimulator.h"

#include <QByteArray>
#include <QMap>

// Byte-level codecs of the simulated devices. Kept free of sockets and state so
// that the device logic in the engine reads as protocol decisions only.
namespace boxsim {
namespace wire {

// CRC-16 as a Modbus RTU slave computes it (reflected 0xA001, start 0xFFFF).
quint16 modbusCrc(const QByteArray& bytes);
// The frame with its CRC appended, low byte first.
QByteArray withCrc(const QByteArray& frame);
// True when the last two bytes are the CRC of the bytes before them.
bool crcMatches(const QByteArray& frame);

// True for decimal digits only (after one leading minus when allowed).
bool isDecimal(const QByteArray& text, bool allowMinus);

int gasCount();
QByteArray gasName(int index); // empty when out of range

// One data line of a flow controller, CR-terminated:
// "A +014.70 +024.50 +007.880 +007.878 007.878 N2\r".
QByteArray flowDataLine(char unit, double pressurePsia, double temperatureC, double volumetric,
                        double mass, double setPoint, const QByteArray& gas);

// Query strings of the web forms: '+' is a blank, %XX a byte, '&' separates.
QByteArray percentDecode(const QByteArray& text);
QMap<QByteArray, QByteArray> parseQuery(const QByteArray& query);

QByteArray networkPage(const NetworkSettings& settings);
QByteArray httpResponse(int status, const QByteArray& reason, const QByteArray& body);

// Readable form of raw bytes for the trace: printable ASCII as is, the rest
// escaped; binary devices as hex.
QByteArray printable(const QByteArray& bytes);
QByteArray hex(const QByteArray& bytes);

const char* deviceName(Device device);

} // namespace wire
} // namespace boxsim
