#include "pulseprotocol.h"

namespace pulse {

QByteArray command(bool waitForCamera, const QString& widthText)
{
    QByteArray width = widthText.toLatin1().left(3);
    width = width.rightJustified(3, '0');
    return (waitForCamera ? '$' : '#') + width;
}

QString answerText(const QByteArray& bytes)
{
    const int zero = int(bytes.indexOf('\0'));
    return QString::fromLatin1(zero < 0 ? bytes : bytes.left(zero));
}

Status classify(const QString& text)
{
    static const Status order[] = {Status::KE1, Status::KE2, Status::RR1, Status::RR2};
    for (Status status : order) {
        if (text.contains(statusWord(status), Qt::CaseSensitive))
            return status;
    }
    return Status::None;
}

QString statusWord(Status status)
{
    switch (status) {
    case Status::KE1:
        return QStringLiteral("KE1");
    case Status::KE2:
        return QStringLiteral("KE2");
    case Status::RR1:
        return QStringLiteral("RR1");
    case Status::RR2:
        return QStringLiteral("RR2");
    case Status::None:
        break;
    }
    return QString();
}

bool AnswerCollector::add(const QByteArray& bytes)
{
    m_bytes.append(bytes);
    return isComplete();
}

bool AnswerCollector::isComplete() const
{
    return status() != Status::None || m_bytes.size() >= kAnswerLength;
}

} // namespace pulse
