// The pulse generator's answers on port 4003, collected across reads the way
// the window does it and classified.
// Input: one plan byte for the read sizes, then the bytes of the connection.
#include "fuzzsupport.h"
#include "pulseprotocol.h"

#include <QStringList>

namespace {

const pulse::Status kOrder[] = {pulse::Status::KE1, pulse::Status::KE2, pulse::Status::RR1,
                                pulse::Status::RR2};

void checkClassification(const QString& text)
{
    const pulse::Status status = pulse::classify(text);
    bool earlierFound = false;
    for (pulse::Status candidate : kOrder) {
        const bool found = text.contains(pulse::statusWord(candidate));
        if (status == candidate) {
            FUZZ_CHECK(found && !earlierFound);
            return;
        }
        earlierFound = earlierFound || found;
    }
    FUZZ_CHECK(status == pulse::Status::None && !earlierFound);
}

// A status word arriving in one read is recognised at once; no input changes
// that, so it is checked once.
bool statusWordsRecognisedAtOnce()
{
    for (pulse::Status status : kOrder) {
        pulse::AnswerCollector collector;
        if (!collector.add(pulse::statusWord(status).toLatin1() + '\r') ||
            collector.status() != status)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool statusWordsChecked = statusWordsRecognisedAtOnce();
    FUZZ_CHECK(statusWordsChecked);
    if (size < 1)
        return 0;
    const quint8 plan = data[0];
    const QByteArray stream = fuzzsupport::bytes(data + 1, size - 1);

    // The text is the Latin-1 bytes up to the first zero byte.
    const QString text = pulse::answerText(stream);
    FUZZ_CHECK(!text.contains(QChar(0)));
    FUZZ_CHECK(text ==
               QString::fromLatin1(stream.left(
                   stream.indexOf('\0') < 0 ? int(stream.size()) : int(stream.indexOf('\0')))));
    checkClassification(text);

    // As the window reads it: collect until complete, decide, start afresh.
    pulse::AnswerCollector collector;
    QByteArray collected;
    fuzzsupport::forEachRead(stream, plan, [&](const QByteArray& read) {
        collected += read;
        const bool complete = collector.add(read);
        const QString sofar = pulse::answerText(collected);
        FUZZ_CHECK(collector.text() == sofar);
        // Complete once a status word is in, or four bytes without one.
        const pulse::Status status = pulse::classify(sofar);
        FUZZ_CHECK(complete ==
                   (status != pulse::Status::None || collected.size() >= pulse::kAnswerLength));
        if (!complete)
            return;
        checkClassification(sofar);
        FUZZ_CHECK(collector.status() == status);
        collector.clear();
        collected.clear();
        FUZZ_CHECK(!collector.isComplete() && collector.text().isEmpty());
    });

    // The command for any width text the window might hold is four bytes.
    const QString width = QString::fromLatin1(stream.left(8));
    for (bool camera : {false, true}) {
        const QByteArray command = pulse::command(camera, width);
        FUZZ_CHECK(command.size() == pulse::kCommandLength);
        FUZZ_CHECK(command.at(0) == (camera ? '$' : '#'));
    }
    return 0;
}
