#pragma once

#include "sharedialog.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QCursor;
class QUrl;
class QWidget;

// Every modal question to the operator, the override cursor and the end of the
// process go through this one interface, so tests can answer the questions and
// record the exit instead of ending the test runner. The production
// implementation calls the toolkit's standard dialogs with exactly the
// arguments it is given.
class OperatorDialogs
{
public:
    virtual ~OperatorDialogs();

    virtual QString getText(QWidget* parent, const QString& title, const QString& label,
                            QLineEdit::EchoMode echo, const QString& text, bool* ok,
                            Qt::WindowFlags flags, Qt::InputMethodHints hints) = 0;
    virtual int getInt(QWidget* parent, const QString& title, const QString& label, int value,
                       int minValue, int maxValue, int step, bool* ok, Qt::WindowFlags flags) = 0;
    virtual double getDouble(QWidget* parent, const QString& title, const QString& label,
                             double value, double minValue, double maxValue, int decimals, bool* ok,
                             Qt::WindowFlags flags) = 0;
    virtual QString getItem(QWidget* parent, const QString& title, const QString& label,
                            const QStringList& items, int current, bool editable, bool* ok,
                            Qt::WindowFlags flags, Qt::InputMethodHints hints) = 0;

    virtual QMessageBox::StandardButton warning(QWidget* parent, const QString& title,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton) = 0;
    virtual QMessageBox::StandardButton critical(QWidget* parent, const QString& title,
                                                 const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) = 0;
    virtual QMessageBox::StandardButton question(QWidget* parent, const QString& title,
                                                 const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) = 0;
    virtual void about(QWidget* parent, const QString& title, const QString& text) = 0;

    virtual QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter, QString* selectedFilter,
                                    QFileDialog::Options options) = 0;
    virtual QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter, QString* selectedFilter,
                                    QFileDialog::Options options) = 0;

    // "Share Live View...": true when accepted, `choice` then the operator's.
    virtual bool shareLiveView(QWidget* parent, ShareChoice* choice,
                               const PageAddressOf& pageAddress) = 0;

    virtual void setOverrideCursor(const QCursor& cursor) = 0;
    virtual void restoreOverrideCursor() = 0;

    // Hands a file or address to the desktop's own program for it; false when
    // none took it.
    virtual bool openUrl(const QUrl& url) = 0;

    // Ends the process at once with the given status; destructors do not run.
    virtual void exitProcess(int status) = 0;

    // The implementation in use. Until one is installed, the toolkit's own.
    static OperatorDialogs& instance();
    // Installs another implementation (not owned); nullptr restores the toolkit's.
    static void install(OperatorDialogs* dialogs);
};

// The toolkit's standard dialogs.
class ToolkitDialogs : public OperatorDialogs
{
public:
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
};
