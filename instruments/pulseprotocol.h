#pragma once

#include <QByteArray>
#include <QString>

// Commands and answers of the pulse generator on port 4003.
namespace pulse {

constexpr int kCommandLength = 4;
// A complete answer from the generator is four characters long.
constexpr int kAnswerLength = 4;

enum class Status
{
    None,
    KE1,
    KE2,
    RR1,
    RR2
};

// '$' when the camera's acknowledgement is awaited, '#' otherwise, then the
// three characters of the zero-padded width in milliseconds.
QByteArray command(bool waitForCamera, const QString& widthText);

// The answer as text: Latin-1 up to the first zero byte.
QString answerText(const QByteArray& bytes);

// The first of "KE1", "KE2", "RR1", "RR2" (searched in that order) found in the text.
Status classify(const QString& text);
QString statusWord(Status status);

// Gathers the generator's answer across reads: complete once a status word has
// arrived, or four characters have arrived without one.
class AnswerCollector
{
public:
    // Appends `bytes`; true when the answer is now complete.
    bool add(const QByteArray& bytes);
    bool isComplete() const;
    QString text() const { return answerText(m_bytes); }
    Status status() const { return classify(text()); }
    void clear() { m_bytes.clear(); }

private:
    QByteArray m_bytes;
};

} // namespace pulse
