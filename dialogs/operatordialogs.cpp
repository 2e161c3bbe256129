#include "operatordialogs.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>

#include <cstdio>
#include <cstdlib>

namespace {
ToolkitDialogs toolkitDialogs;
OperatorDialogs* installedDialogs = nullptr;
} // namespace

OperatorDialogs::~OperatorDialogs() = default;

OperatorDialogs& OperatorDialogs::instance()
{
    return installedDialogs ? *installedDialogs : toolkitDialogs;
}

void OperatorDialogs::install(OperatorDialogs* dialogs)
{
    installedDialogs = dialogs;
}

QString ToolkitDialogs::getText(QWidget* parent, const QString& title, const QString& label,
                                QLineEdit::EchoMode echo, const QString& text, bool* ok,
                                Qt::WindowFlags flags, Qt::InputMethodHints hints)
{
    return QInputDialog::getText(parent, title, label, echo, text, ok, flags, hints);
}

int ToolkitDialogs::getInt(QWidget* parent, const QString& title, const QString& label, int value,
                           int minValue, int maxValue, int step, bool* ok, Qt::WindowFlags flags)
{
    return QInputDialog::getInt(parent, title, label, value, minValue, maxValue, step, ok, flags);
}

double ToolkitDialogs::getDouble(QWidget* parent, const QString& title, const QString& label,
                                 double value, double minValue, double maxValue, int decimals,
                                 bool* ok, Qt::WindowFlags flags)
{
    return QInputDialog::getDouble(parent, title, label, value, minValue, maxValue, decimals, ok,
                                   flags);
}

QString ToolkitDialogs::getItem(QWidget* parent, const QString& title, const QString& label,
                                const QStringList& items, int current, bool editable, bool* ok,
                                Qt::WindowFlags flags, Qt::InputMethodHints hints)
{
    return QInputDialog::getItem(parent, title, label, items, current, editable, ok, flags, hints);
}

QMessageBox::StandardButton ToolkitDialogs::warning(QWidget* parent, const QString& title,
                                                    const QString& text,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::warning(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton ToolkitDialogs::critical(QWidget* parent, const QString& title,
                                                     const QString& text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::critical(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton ToolkitDialogs::question(QWidget* parent, const QString& title,
                                                     const QString& text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

void ToolkitDialogs::about(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::about(parent, title, text);
}

QString ToolkitDialogs::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                        const QString& filter, QString* selectedFilter,
                                        QFileDialog::Options options)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, selectedFilter, options);
}

QString ToolkitDialogs::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                        const QString& filter, QString* selectedFilter,
                                        QFileDialog::Options options)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter, selectedFilter, options);
}

bool ToolkitDialogs::shareLiveView(QWidget* parent, ShareChoice* choice,
                                   const PageAddressOf& pageAddress)
{
    ShareDialog dialog(parent, *choice, pageAddress);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *choice = dialog.choice();
    return true;
}

void ToolkitDialogs::setOverrideCursor(const QCursor& cursor)
{
    QApplication::setOverrideCursor(cursor);
}

bool ToolkitDialogs::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void ToolkitDialogs::restoreOverrideCursor()
{
    QApplication::restoreOverrideCursor();
}

void ToolkitDialogs::exitProcess(int status)
{
    // Ends at once, as a close is final: no destructor may wait on a poller.
    std::fflush(nullptr);
    std::_Exit(status);
}
