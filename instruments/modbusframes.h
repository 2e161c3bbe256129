#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>

// Modbus RTU frames of the temperature controller (slave 1 on port 4000).
// Everything here is plain data in, data out: no sockets.
namespace modbus {

constexpr quint8 kSlaveAddress = 0x01;
constexpr quint8 kReadInputRegisters = 0x04;
constexpr quint8 kWriteSingleRegister = 0x06;
constexpr quint8 kExceptionBit = 0x80;

constexpr quint16 kTemperatureRegister = 0x03E8; // first of the four input registers polled
constexpr quint16 kTemperatureRegisterCount = 4;
constexpr quint16 kSetPointRegister = 0x03EA;
constexpr quint16 kRunRegister = 0x03EC; // 0 during initialisation, 1 after every set point

constexpr int kRequestLength = 8;
constexpr int kReadAnswerLength = 13; // address, 0x04, byte count 8, 4 registers, CRC
constexpr int kWriteEchoLength = 8;
constexpr int kExceptionLength = 5; // address, function | 0x80, code, CRC

// CRC-16 of the Modbus standard over the first `len` bytes of `data`.
quint16 modbusCrc16(const QByteArray& data, int len);

// Stores the CRC of bytes 0..5 into bytes 6 and 7, low byte first. The frame is
// grown to 8 bytes if it is shorter.
void addFrameCrc(QByteArray& frame);

// True when the last two bytes of `frame` are the CRC of the bytes before them.
bool hasValidCrc(const QByteArray& frame);

// One 16-bit register value out of an answer, decoded from its hexadecimal text:
// skip 2 * `skip` digits, take up to four. Short or empty input gives what its
// digits give (0 when none are left); nothing in the answer is verified.
quint16 replyRegisterValue(const QByteArray& answer, int skip);

// Register value in tenths of a degree to degrees Celsius; values above 60000
// are negative temperatures.
float decodeTenths(quint16 value);

// Set point in degrees Celsius to the register value: x 10.001, truncated toward
// zero, lower 16 bits in two's complement.
quint16 encodeTenths(double celsius);

// 01 04 03 E8 00 04 + CRC
QByteArray pollRequest();

// 01 06, register, value (big-endian) + CRC
QByteArray writeRegisterFrame(quint16 reg, quint16 value);

struct RegisterWrite
{
    quint16 reg;
    qint16 value;
};

// The controller's parameter set, in the order the initialisation writes it.
extern const std::array<RegisterWrite, 14> kInitialisationWrites;

// Collects the bytes of one connection and hands out complete answers of one
// kind only: read-input-register answers (13 bytes, byte count 8) or write
// echoes (8 bytes). Frames with a bad CRC and bytes that cannot start an answer
// are skipped one byte at a time, so the next good answer is found again.
// Exception answers are dropped and counted.
class AnswerAssembler
{
public:
    enum class Kind
    {
        ReadInputRegisters,
        WriteEcho
    };

    explicit AnswerAssembler(Kind kind = Kind::ReadInputRegisters);

    // Appends `bytes` and returns every answer completed by them, in order.
    QList<QByteArray> feed(const QByteArray& bytes);
    void clear();

    int pendingBytes() const { return int(m_buffer.size()); }
    int exceptionsDropped() const { return m_exceptions; }
    int bytesDropped() const { return m_droppedBytes; }

private:
    Kind m_kind;
    QByteArray m_buffer;
    int m_exceptions = 0;
    int m_droppedBytes = 0;
};

} // namespace modbus
