#include "scripteddialogs.h"

#include "boxlink.h"

#include <QUrl>
#include <QtGlobal>

ScriptedDialogs::ScriptedDialogs()
{
    OperatorDialogs::install(this);
}

ScriptedDialogs::~ScriptedDialogs()
{
    // A newer script may already have taken over.
    if (&OperatorDialogs::instance() == this)
        OperatorDialogs::install(nullptr);
}

void ScriptedDialogs::push(const Answer& answer)
{
    m_answers.append(answer);
}

void ScriptedDialogs::pushAccept(const QVariant& value, int processEventsMs)
{
    Answer a;
    a.value = value;
    a.processEventsMs = processEventsMs;
    push(a);
}

void ScriptedDialogs::pushCancel()
{
    Answer a;
    a.accept = false;
    push(a);
}

void ScriptedDialogs::pushButton(QMessageBox::StandardButton button, int processEventsMs)
{
    Answer a;
    a.button = button;
    a.processEventsMs = processEventsMs;
    push(a);
}

void ScriptedDialogs::setHandler(std::function<Answer(const Question&)> handler)
{
    m_handler = std::move(handler);
}

void ScriptedDialogs::clear()
{
    m_questions.clear();
    m_answers.clear();
    m_exits.clear();
    m_cursorAtQuestion.clear();
}

QList<ScriptedDialogs::Question> ScriptedDialogs::questions(const QString& kind) const
{
    QList<Question> result;
    for (const Question& q : m_questions) {
        if (q.kind == kind)
            result.append(q);
    }
    return result;
}

ScriptedDialogs::Answer ScriptedDialogs::answerFor(const Question& question)
{
    m_questions.append(question);
    m_cursorAtQuestion.append(m_cursorDepth);
    ++m_open;
    Answer answer;
    if (m_handler) {
        answer = m_handler(question);
    } else if (!m_answers.isEmpty()) {
        answer = m_answers.takeFirst();
    } else {
        answer.accept = false;
    }
    if (answer.before)
        answer.before();
    if (answer.processEventsMs > 0)
        boxlink::processEventsFor(answer.processEventsMs);
    --m_open;
    return answer;
}

QString ScriptedDialogs::getText(QWidget* parent, const QString& title, const QString& label,
                                 QLineEdit::EchoMode echo, const QString& text, bool* ok,
                                 Qt::WindowFlags flags, Qt::InputMethodHints hints)
{
    Question q{QStringLiteral("text"),
               parent != nullptr,
               title,
               label,
               {text, int(echo), int(flags), int(hints)},
               {}};
    const Answer a = answerFor(q);
    if (ok)
        *ok = a.accept;
    if (!a.accept)
        return QString();
    return a.value.isValid() ? a.value.toString() : text;
}

int ScriptedDialogs::getInt(QWidget* parent, const QString& title, const QString& label, int value,
                            int minValue, int maxValue, int step, bool* ok, Qt::WindowFlags flags)
{
    Question q{QStringLiteral("int"),
               parent != nullptr,
               title,
               label,
               {value, minValue, maxValue, step, int(flags)},
               {}};
    const Answer a = answerFor(q);
    if (ok)
        *ok = a.accept;
    if (!a.accept || !a.value.isValid())
        return value;
    return qBound(minValue, a.value.toInt(), maxValue);
}

double ScriptedDialogs::getDouble(QWidget* parent, const QString& title, const QString& label,
                                  double value, double minValue, double maxValue, int decimals,
                                  bool* ok, Qt::WindowFlags flags)
{
    Question q{QStringLiteral("double"),
               parent != nullptr,
               title,
               label,
               {value, minValue, maxValue, decimals, int(flags)},
               {}};
    const Answer a = answerFor(q);
    if (ok)
        *ok = a.accept;
    if (!a.accept || !a.value.isValid())
        return value;
    return qBound(minValue, a.value.toDouble(), maxValue);
}

QString ScriptedDialogs::getItem(QWidget* parent, const QString& title, const QString& label,
                                 const QStringList& items, int current, bool editable, bool* ok,
                                 Qt::WindowFlags flags, Qt::InputMethodHints hints)
{
    Question q{QStringLiteral("item"),
               parent != nullptr,
               title,
               label,
               {items, current, editable, int(flags), int(hints)},
               {}};
    const Answer a = answerFor(q);
    if (ok)
        *ok = a.accept;
    if (!a.accept || !a.value.isValid())
        return items.value(current);
    return a.value.toString();
}

QMessageBox::StandardButton ScriptedDialogs::box(const QString& kind, QWidget* parent,
                                                 const QString& title, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton)
{
    Question q{kind, parent != nullptr, title, text, {int(buttons), int(defaultButton)}, {}};
    const Answer a = answerFor(q);
    if (a.button != QMessageBox::NoButton)
        return a.button;
    if (defaultButton != QMessageBox::NoButton)
        return defaultButton;
    if (buttons & QMessageBox::Ok)
        return QMessageBox::Ok;
    for (int bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1) {
        if (buttons & bit)
            return QMessageBox::StandardButton(bit);
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton ScriptedDialogs::warning(QWidget* parent, const QString& title,
                                                     const QString& text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton)
{
    return box(QStringLiteral("warning"), parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton ScriptedDialogs::critical(QWidget* parent, const QString& title,
                                                      const QString& text,
                                                      QMessageBox::StandardButtons buttons,
                                                      QMessageBox::StandardButton defaultButton)
{
    return box(QStringLiteral("critical"), parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton ScriptedDialogs::question(QWidget* parent, const QString& title,
                                                      const QString& text,
                                                      QMessageBox::StandardButtons buttons,
                                                      QMessageBox::StandardButton defaultButton)
{
    return box(QStringLiteral("question"), parent, title, text, buttons, defaultButton);
}

void ScriptedDialogs::about(QWidget* parent, const QString& title, const QString& text)
{
    box(QStringLiteral("about"), parent, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

QString ScriptedDialogs::file(const QString& kind, QWidget* parent, const QString& caption,
                              const QString& dir, const QString& filter, QString* selectedFilter)
{
    Question q{kind, parent != nullptr, caption,
               dir,  {filter},          selectedFilter ? *selectedFilter : QString()};
    const Answer a = answerFor(q);
    if (!a.accept)
        return QString();
    if (selectedFilter && !a.selectedFilter.isEmpty())
        *selectedFilter = a.selectedFilter;
    return a.value.toString();
}

QString ScriptedDialogs::getSaveFileName(QWidget* parent, const QString& caption,
                                         const QString& dir, const QString& filter,
                                         QString* selectedFilter, QFileDialog::Options)
{
    return file(QStringLiteral("save"), parent, caption, dir, filter, selectedFilter);
}

QString ScriptedDialogs::getOpenFileName(QWidget* parent, const QString& caption,
                                         const QString& dir, const QString& filter,
                                         QString* selectedFilter, QFileDialog::Options)
{
    return file(QStringLiteral("open"), parent, caption, dir, filter, selectedFilter);
}

bool ScriptedDialogs::shareLiveView(QWidget* parent, ShareChoice* choice,
                                    const PageAddressOf& pageAddress)
{
    Question q{QStringLiteral("share"),
               parent != nullptr,
               QStringLiteral("Share Live View"),
               {},
               {choice->on, choice->address, choice->port, pageAddress(*choice)},
               {}};
    const Answer a = answerFor(q);
    if (!a.accept)
        return false;
    const QVariantList value = a.value.toList();
    if (value.size() == 3)
        *choice = {value[0].toBool(), value[1].toString(), value[2].toInt()};
    return true;
}

void ScriptedDialogs::setOverrideCursor(const QCursor&)
{
    ++m_cursorDepth;
}

void ScriptedDialogs::restoreOverrideCursor()
{
    --m_cursorDepth;
}

bool ScriptedDialogs::openUrl(const QUrl& url)
{
    m_questions.append(Question{QStringLiteral("url"), false, QString(), url.toString(), {}, {}});
    return true;
}

void ScriptedDialogs::exitProcess(int status)
{
    m_exits.append(status);
}
