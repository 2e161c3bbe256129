#include "modbusframes.h"

#include <QString>

#include <cmath>

namespace modbus {

const std::array<RegisterWrite, 14> kInitialisationWrites = {{
    {0x03F8, 0},
    {0x03F7, 1},
    {0x03FB, 1},
    {0x03ED, 50},
    {0x03EE, 240},
    {0x03EF, 600},
    {0x03F3, 50},
    {0x0406, -100},
    {0x0407, 1000},
    {0x048A, -110},
    {0x048B, 1010},
    {0x03EC, 0},
    {0x03F9, -250},
    {0x03FA, 2001},
}};

quint16 modbusCrc16(const QByteArray& data, int len)
{
    quint16 crc = 0xFFFF;
    const int n = qBound(0, len, int(data.size()));
    for (int i = 0; i < n; ++i) {
        crc ^= quint8(data.at(i));
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 1u)
                crc = quint16((crc >> 1) ^ 0xA001);
            else
                crc = quint16(crc >> 1);
        }
    }
    return crc;
}

void addFrameCrc(QByteArray& frame)
{
    if (frame.size() < kRequestLength)
        frame.resize(kRequestLength);
    const quint16 crc = modbusCrc16(frame, 6);
    frame[6] = char(crc & 0xFF);
    frame[7] = char(crc >> 8);
}

bool hasValidCrc(const QByteArray& frame)
{
    const int n = int(frame.size());
    if (n < 3)
        return false;
    const quint16 crc = modbusCrc16(frame, n - 2);
    return quint8(frame.at(n - 2)) == (crc & 0xFF) && quint8(frame.at(n - 1)) == (crc >> 8);
}

quint16 replyRegisterValue(const QByteArray& answer, int skip)
{
    const QString hex = QString::fromLatin1(answer.toHex());
    const QString digits = hex.mid(2 * qMax(skip, 0), 4);
    if (digits.isEmpty())
        return 0;
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    return ok ? quint16(value) : quint16(0);
}

float decodeTenths(quint16 value)
{
    if (value > 60000)
        return float((int(value) - 65536) / 10.0);
    return float(value / 10.0);
}

quint16 encodeTenths(double celsius)
{
    const double scaled = std::trunc(celsius * 10.001);
    // Far outside any set point the controller takes; keep the conversion defined.
    if (!(std::fabs(scaled) < 1e9))
        return 0;
    return quint16(qint64(scaled) & 0xFFFF);
}

static QByteArray requestFrame(quint8 function, quint16 reg, quint16 operand)
{
    QByteArray frame(kRequestLength, '\0');
    frame[0] = char(kSlaveAddress);
    frame[1] = char(function);
    frame[2] = char(reg >> 8);
    frame[3] = char(reg & 0xFF);
    frame[4] = char(operand >> 8);
    frame[5] = char(operand & 0xFF);
    addFrameCrc(frame);
    return frame;
}

QByteArray pollRequest()
{
    return requestFrame(kReadInputRegisters, kTemperatureRegister, kTemperatureRegisterCount);
}

QByteArray writeRegisterFrame(quint16 reg, quint16 value)
{
    return requestFrame(kWriteSingleRegister, reg, value);
}

AnswerAssembler::AnswerAssembler(Kind kind) : m_kind(kind) {}

void AnswerAssembler::clear()
{
    m_buffer.clear();
}

QList<QByteArray> AnswerAssembler::feed(const QByteArray& bytes)
{
    QList<QByteArray> answers;
    m_buffer.append(bytes);

    const bool reading = m_kind == Kind::ReadInputRegisters;
    const quint8 function = reading ? kReadInputRegisters : kWriteSingleRegister;
    const int length = reading ? kReadAnswerLength : kWriteEchoLength;

    int pos = 0;
    auto skipOne = [&] {
        ++pos;
        ++m_droppedBytes;
    };
    while (pos < m_buffer.size()) {
        const int left = int(m_buffer.size()) - pos;
        if (quint8(m_buffer.at(pos)) != kSlaveAddress) {
            skipOne();
            continue;
        }
        if (left < 2)
            break;
        const quint8 code = quint8(m_buffer.at(pos + 1));
        if (code == (function | kExceptionBit)) {
            if (left < kExceptionLength)
                break;
            if (hasValidCrc(m_buffer.mid(pos, kExceptionLength))) {
                pos += kExceptionLength;
                ++m_exceptions;
            } else {
                skipOne();
            }
            continue;
        }
        if (code != function) {
            skipOne();
            continue;
        }
        if (reading) {
            if (left < 3)
                break;
            if (quint8(m_buffer.at(pos + 2)) != 2 * kTemperatureRegisterCount) {
                skipOne();
                continue;
            }
        }
        if (left < length)
            break;
        const QByteArray candidate = m_buffer.mid(pos, length);
        if (hasValidCrc(candidate)) {
            answers.append(candidate);
            pos += length;
        } else {
            skipOne();
        }
    }
    m_buffer.remove(0, pos);
    return answers;
}

} // namespace modbus
