// The temperature poller's side of port 4000: read-input-register answers
// assembled from whatever the reads deliver, then decoded to degrees.
// Input: one plan byte for the read sizes, then the bytes of the connection.
#include "fuzzsupport.h"
#include "modbusframes.h"

#include <cmath>

using modbus::AnswerAssembler;

namespace {

struct Outcome
{
    QList<QByteArray> answers;
    int exceptions = 0;
    int dropped = 0;
    int pending = 0;
};

Outcome assemble(const QByteArray& stream, quint8 plan)
{
    AnswerAssembler assembler(AnswerAssembler::Kind::ReadInputRegisters);
    Outcome outcome;
    fuzzsupport::forEachRead(stream, plan, [&](const QByteArray& read) {
        outcome.answers += assembler.feed(read);
        // Bytes that cannot yet be judged are all that is kept.
        FUZZ_CHECK(assembler.pendingBytes() < modbus::kReadAnswerLength);
    });
    outcome.exceptions = assembler.exceptionsDropped();
    outcome.dropped = assembler.bytesDropped();
    outcome.pending = assembler.pendingBytes();
    return outcome;
}

// The register value as the frame carries it: big-endian bytes after `skip`.
quint16 registerAt(const QByteArray& bytes, int skip)
{
    const int from = qMax(skip, 0);
    const int left = int(bytes.size()) - from;
    if (left <= 0)
        return 0;
    if (left == 1)
        return quint8(bytes.at(from));
    return quint16(quint8(bytes.at(from)) << 8 | quint8(bytes.at(from + 1)));
}

void checkTemperature(quint16 value)
{
    const float celsius = modbus::decodeTenths(value);
    FUZZ_CHECK(std::isfinite(celsius));
    const long tenths = value > 60000 ? long(value) - 65536 : long(value);
    FUZZ_CHECK(std::lround(double(celsius) * 10.0) == tenths);
    FUZZ_CHECK(celsius >= -553.5f && celsius <= 6000.0f);
}

QByteArray readAnswer(const QByteArray& registers)
{
    QByteArray frame = QByteArray::fromHex("010408") + registers.leftJustified(8, '\0', true);
    const quint16 crc = modbus::modbusCrc16(frame, int(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 plan = data[0];
    const QByteArray stream = fuzzsupport::bytes(data + 1, size - 1);

    // However the bytes are cut into reads, the same answers come out.
    const Outcome inReads = assemble(stream, plan);
    const Outcome atOnce = assemble(stream, 0);
    FUZZ_CHECK(inReads.answers == atOnce.answers);
    FUZZ_CHECK(inReads.exceptions == atOnce.exceptions);

    // Every byte is accounted for: in an answer, an exception, dropped or pending.
    FUZZ_CHECK(inReads.answers.size() * modbus::kReadAnswerLength +
                   inReads.exceptions * modbus::kExceptionLength + inReads.dropped +
                   inReads.pending ==
               stream.size());

    int from = 0;
    for (const QByteArray& answer : inReads.answers) {
        FUZZ_CHECK(answer.size() == modbus::kReadAnswerLength);
        FUZZ_CHECK(quint8(answer.at(0)) == modbus::kSlaveAddress);
        FUZZ_CHECK(quint8(answer.at(1)) == modbus::kReadInputRegisters);
        FUZZ_CHECK(quint8(answer.at(2)) == 2 * modbus::kTemperatureRegisterCount);
        FUZZ_CHECK(modbus::hasValidCrc(answer));
        // Taken from the stream, in order, without overlapping.
        const int at = int(stream.indexOf(answer, from));
        FUZZ_CHECK(at >= 0);
        from = at + int(answer.size());

        const quint16 value = modbus::replyRegisterValue(answer, 3);
        FUZZ_CHECK(value == registerAt(answer, 3));
        checkTemperature(value);
    }

    // The hexadecimal extraction agrees with the byte layout for any input.
    for (int skip : {-1, 0, 3, 4, int(plan % 32)})
        FUZZ_CHECK(modbus::replyRegisterValue(stream, skip) == registerAt(stream, skip));

    // After noise without a slave address byte the next good answer is found.
    // What follows the frame matters only within the read that ends it (16 bytes at most).
    QByteArray noise = stream.left(256);
    noise.replace(char(modbus::kSlaveAddress), char(0));
    const QByteArray good = readAnswer(stream.left(8));
    const Outcome resynced = assemble(noise + good + stream.left(16), plan);
    FUZZ_CHECK(!resynced.answers.isEmpty() && resynced.answers.first() == good);
    return 0;
}
