#pragma once

#include "operatordialogs.h"

#include <QList>
#include <QVariant>

#include <functional>

// Answers the program's questions from a script and records every question.
// Install it with OperatorDialogs::install(&dialogs) (the constructor does, the
// destructor restores the toolkit's dialogs).
class ScriptedDialogs : public OperatorDialogs
{
public:
    struct Question
    {
        QString kind; // "text", "int", "double", "item", "warning", "critical",
                      // "question", "about", "save", "open", "share"
        bool hasParent = false;
        QString title;
        QString label;          // label, or the message text
        QVariantList args;      // kind-specific: initial value, range, items, buttons...
                                // share: on, address, port, the page's address
        QString selectedFilter; // file dialogs: the filter passed in
    };

    struct Answer
    {
        bool accept = true; // input and file dialogs: OK (true) or Cancel
        QVariant value;     // input value or chosen path; empty: the initial value
                            // share: the list on, address, port
        QMessageBox::StandardButton button = QMessageBox::NoButton; // NoButton: default
        QString selectedFilter;       // file dialogs: filter chosen when accepted (empty: keep)
        int processEventsMs = 0;      // run the event loop this long before answering
        std::function<void()> before; // runs before answering (while the "box is open")
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // Answers used in order; when none is left the default answer is given:
    // input and file dialogs cancelled, message boxes answered with their
    // default button (or Ok / the first button).
    void push(const Answer& answer);
    void pushAccept(const QVariant& value, int processEventsMs = 0);
    void pushCancel();
    void pushButton(QMessageBox::StandardButton button, int processEventsMs = 0);
    void setHandler(std::function<Answer(const Question&)> handler); // instead of the queue
    void clear();

    QList<Question> questions() const { return m_questions; }
    QList<Question> questions(const QString& kind) const;
    int count(const QString& kind) const { return questions(kind).size(); }
    Question last() const { return m_questions.value(m_questions.size() - 1); }
    int pendingAnswers() const { return m_answers.size(); }
    // Questions asked and not answered yet, the one being asked included: more
    // than one means a question came up while another was open.
    int openQuestions() const { return m_open; }

    QList<int> exitCalls() const { return m_exits; }
    int overrideCursorDepth() const { return m_cursorDepth; }
    // Override cursor depth seen by each question when it was asked.
    QList<int> cursorDepthAtQuestions() const { return m_cursorAtQuestion; }

    QString getText(QWidget* parent, const QString& title, const QString& label,
                    QLineEdit::EchoMode echo, const QString& text, bool* ok, Qt::WindowFlags flags,
                    Qt::InputMethodHints hints) override;
    int getInt(QWidget* parent, const QString& title, const QString& label, int value, int minValue,
               int maxValue, int step, bool* ok, Qt::WindowFlags flags) override;
    double getDouble(QWidget* parent, const QString& title, const QString& label, double value,
                     double minValue, double maxValue, int decimals, bool* ok,
                     Qt::WindowFlags flags) override;
    QString getItem(QWidget* parent, const QString& title, const QString& label,
                    const QStringList& items, int current, bool editable, bool* ok,
                    Qt::WindowFlags flags, Qt::InputMethodHints hints) override;
    QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    QMessageBox::StandardButton critical(QWidget* parent, const QString& title, const QString& text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton) override;
    QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton) override;
    void about(QWidget* parent, const QString& title, const QString& text) override;
    QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter, QString* selectedFilter,
                            QFileDialog::Options options) override;
    QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter, QString* selectedFilter,
                            QFileDialog::Options options) override;
    bool shareLiveView(QWidget* parent, ShareChoice* choice,
                       const PageAddressOf& pageAddress) override;
    void setOverrideCursor(const QCursor& cursor) override;
    void restoreOverrideCursor() override;
    // Recorded as a question of kind "url" (label: the address); always taken.
    bool openUrl(const QUrl& url) override;
    void exitProcess(int status) override;

private:
    Answer answerFor(const Question& question);
    QMessageBox::StandardButton box(const QString& kind, QWidget* parent, const QString& title,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton);
    QString file(const QString& kind, QWidget* parent, const QString& caption, const QString& dir,
                 const QString& filter, QString* selectedFilter);

    QList<Question> m_questions;
    QList<Answer> m_answers;
    std::function<Answer(const Question&)> m_handler;
    QList<int> m_exits;
    QList<int> m_cursorAtQuestion;
    int m_cursorDepth = 0;
    int m_open = 0;
};
