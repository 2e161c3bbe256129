#include "benchdialogs.h"

#include <QUrl>

BenchDialogs::BenchDialogs()
{
    OperatorDialogs::install(this);
}

BenchDialogs::~BenchDialogs()
{
    OperatorDialogs::install(nullptr);
}

void BenchDialogs::note(const QString& kind, const QString& title, const QString& text)
{
    m_unexpected.append(QStringLiteral("%1 \"%2\": %3").arg(kind, title, text));
}

QString BenchDialogs::getText(QWidget*, const QString& title, const QString& label,
                              QLineEdit::EchoMode, const QString&, bool* ok, Qt::WindowFlags,
                              Qt::InputMethodHints)
{
    QString answer;
    if (answerAddress)
        answer = answerAddress();
    else
        note(QStringLiteral("text"), title, label);
    if (ok)
        *ok = !answer.isEmpty();
    return answer;
}

int BenchDialogs::getInt(QWidget*, const QString& title, const QString& label, int value, int, int,
                         int, bool* ok, Qt::WindowFlags)
{
    note(QStringLiteral("int"), title, label);
    if (ok)
        *ok = false;
    return value;
}

double BenchDialogs::getDouble(QWidget*, const QString& title, const QString& label, double value,
                               double, double, int, bool* ok, Qt::WindowFlags)
{
    note(QStringLiteral("double"), title, label);
    if (ok)
        *ok = false;
    return value;
}

QString BenchDialogs::getItem(QWidget*, const QString& title, const QString& label,
                              const QStringList&, int, bool, bool* ok, Qt::WindowFlags,
                              Qt::InputMethodHints)
{
    note(QStringLiteral("item"), title, label);
    if (ok)
        *ok = false;
    return QString();
}

QMessageBox::StandardButton BenchDialogs::warning(QWidget*, const QString& title,
                                                  const QString& text, QMessageBox::StandardButtons,
                                                  QMessageBox::StandardButton)
{
    note(QStringLiteral("warning"), title, text);
    return QMessageBox::Ok;
}

QMessageBox::StandardButton BenchDialogs::critical(QWidget*, const QString& title,
                                                   const QString& text,
                                                   QMessageBox::StandardButtons,
                                                   QMessageBox::StandardButton)
{
    note(QStringLiteral("critical"), title, text);
    return QMessageBox::Ok;
}

QMessageBox::StandardButton BenchDialogs::question(QWidget*, const QString& title,
                                                   const QString& text,
                                                   QMessageBox::StandardButtons,
                                                   QMessageBox::StandardButton)
{
    note(QStringLiteral("question"), title, text);
    return QMessageBox::No;
}

void BenchDialogs::about(QWidget*, const QString& title, const QString& text)
{
    note(QStringLiteral("about"), title, text);
}

bool BenchDialogs::shareLiveView(QWidget*, ShareChoice*, const PageAddressOf&)
{
    note(QStringLiteral("share"), QStringLiteral("Share Live View"), QString());
    return false;
}

QString BenchDialogs::getSaveFileName(QWidget*, const QString& caption, const QString&,
                                      const QString&, QString* selectedFilter, QFileDialog::Options)
{
    if (nextLogPath.isEmpty()) {
        note(QStringLiteral("save"), caption, QString());
        return QString();
    }
    if (selectedFilter)
        *selectedFilter = QStringLiteral("*.csv");
    QString path;
    path.swap(nextLogPath);
    return path;
}

QString BenchDialogs::getOpenFileName(QWidget*, const QString& caption, const QString&,
                                      const QString&, QString*, QFileDialog::Options)
{
    note(QStringLiteral("open"), caption, QString());
    return QString();
}

void BenchDialogs::setOverrideCursor(const QCursor&) {}

void BenchDialogs::restoreOverrideCursor() {}

bool BenchDialogs::openUrl(const QUrl& url)
{
    note(QStringLiteral("url"), url.toString(), QString());
    return true;
}

void BenchDialogs::exitProcess(int status)
{
    note(QStringLiteral("exit"), QString::number(status), QString());
}
