#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLineEdit;
class QSpinBox;

// "Share Live View...": whether the live view's page is served, and where.
struct ShareChoice
{
    bool on = false;
    QString address = QStringLiteral("127.0.0.1");
    int port = 8080;
};

// The page's address for a choice (empty: none can be given), for the
// operator to copy.
using PageAddressOf = std::function<QString(const ShareChoice&)>;

class ShareDialog : public QDialog
{
    Q_OBJECT

public:
    ShareDialog(QWidget* parent, const ShareChoice& choice, PageAddressOf pageAddress);
    ShareChoice choice() const;

private:
    void showPageAddress();

    PageAddressOf m_pageAddress;
    QCheckBox* m_on;
    QLineEdit* m_address;
    QSpinBox* m_port;
    QLineEdit* m_page;
};
