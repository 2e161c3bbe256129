#pragma once

#include "operatordialogs.h"

#include <QStringList>

#include <functional>

// Answers the window's questions without a person: the box address from a
// callback, the log file from a prepared path. Any other question, warning or
// exit request is counted, since none should come up during a clean run.
class BenchDialogs : public OperatorDialogs
{
public:
    BenchDialogs();
    ~BenchDialogs() override;
    BenchDialogs(const BenchDialogs&) = delete;
    BenchDialogs& operator=(const BenchDialogs&) = delete;

    // Called when the window asks for the box address; an empty answer cancels.
    std::function<QString()> answerAddress;
    // The next log-file dialog answers with this path and the CSV filter.
    QString nextLogPath;

    int unexpectedCount() const { return m_unexpected.size(); }
    QStringList unexpected() const { return m_unexpected; }

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
    bool openUrl(const QUrl& url) override;
    void exitProcess(int status) override;

private:
    void note(const QString& kind, const QString& title, const QString& text);

    QStringList m_unexpected;
};
