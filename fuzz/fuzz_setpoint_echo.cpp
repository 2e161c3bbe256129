// The set-point command's side of port 4000: write echoes assembled from the
// reads, then the echoed set point decoded as the window does.
// Input: one plan byte for the read sizes, then the bytes of the connection.
#include "fuzzsupport.h"
#include "modbusframes.h"

#include <cmath>
#include <cstring>

using modbus::AnswerAssembler;

namespace {

struct Outcome
{
    QList<QByteArray> echoes;
    int exceptions = 0;
    int dropped = 0;
    int pending = 0;
};

Outcome assemble(const QByteArray& stream, quint8 plan)
{
    AnswerAssembler assembler(AnswerAssembler::Kind::WriteEcho);
    Outcome outcome;
    fuzzsupport::forEachRead(stream, plan, [&](const QByteArray& read) {
        outcome.echoes += assembler.feed(read);
        FUZZ_CHECK(assembler.pendingBytes() < modbus::kWriteEchoLength);
    });
    outcome.exceptions = assembler.exceptionsDropped();
    outcome.dropped = assembler.bytesDropped();
    outcome.pending = assembler.pendingBytes();
    return outcome;
}

quint16 bigEndian(const QByteArray& frame, int at)
{
    return quint16(quint8(frame.at(at)) << 8 | quint8(frame.at(at + 1)));
}

// A set point in degrees out of the input's first bytes, kept to what the
// controller's register can carry without wrapping.
double setPointFrom(const QByteArray& stream)
{
    const QByteArray raw = stream.left(8).leftJustified(8, '\0', true);
    double value = 0;
    std::memcpy(&value, raw.constData(), sizeof value);
    if (!std::isfinite(value))
        return 22.0;
    double shifted = std::fmod(value, 3500.0);
    if (shifted < 0)
        shifted += 3500.0;
    return shifted - 500.0; // -500 .. 3000
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 plan = data[0];
    const QByteArray stream = fuzzsupport::bytes(data + 1, size - 1);

    const Outcome inReads = assemble(stream, plan);
    const Outcome atOnce = assemble(stream, 0);
    FUZZ_CHECK(inReads.echoes == atOnce.echoes);
    FUZZ_CHECK(inReads.exceptions == atOnce.exceptions);
    FUZZ_CHECK(inReads.echoes.size() * modbus::kWriteEchoLength +
                   inReads.exceptions * modbus::kExceptionLength + inReads.dropped +
                   inReads.pending ==
               stream.size());

    int from = 0;
    for (const QByteArray& echo : inReads.echoes) {
        FUZZ_CHECK(echo.size() == modbus::kWriteEchoLength);
        FUZZ_CHECK(quint8(echo.at(0)) == modbus::kSlaveAddress);
        FUZZ_CHECK(quint8(echo.at(1)) == modbus::kWriteSingleRegister);
        FUZZ_CHECK(modbus::hasValidCrc(echo));
        const int at = int(stream.indexOf(echo, from));
        FUZZ_CHECK(at >= 0);
        from = at + int(echo.size());

        // The register and the value as the window reads them from the echo.
        FUZZ_CHECK(modbus::replyRegisterValue(echo, 2) == bigEndian(echo, 2));
        FUZZ_CHECK(modbus::replyRegisterValue(echo, 4) == bigEndian(echo, 4));
        FUZZ_CHECK(std::isfinite(modbus::decodeTenths(modbus::replyRegisterValue(echo, 4))));
    }

    // The echo of a real set-point frame after noise without a slave address
    // byte is found, and gives back the set point to within the encoding's
    // truncation and its 10.001 factor.
    const double celsius = setPointFrom(stream);
    const QByteArray frame =
        modbus::writeRegisterFrame(modbus::kSetPointRegister, modbus::encodeTenths(celsius));
    // What follows the frame matters only within the read that ends it (16 bytes at most).
    QByteArray noise = stream.left(256);
    noise.replace(char(modbus::kSlaveAddress), char(0));
    const Outcome resynced = assemble(noise + frame + stream.left(16), plan);
    FUZZ_CHECK(!resynced.echoes.isEmpty() && resynced.echoes.first() == frame);
    const QByteArray& echo = resynced.echoes.first();
    FUZZ_CHECK(modbus::replyRegisterValue(echo, 2) == modbus::kSetPointRegister);
    const float back = modbus::decodeTenths(modbus::replyRegisterValue(echo, 4));
    FUZZ_CHECK(std::fabs(double(back) - celsius) <= 0.1 + 0.0002 * std::fabs(celsius) + 1e-6);
    return 0;
}
