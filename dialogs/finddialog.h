#pragma once

#include "webforms.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Shows the box's network settings as its serial device server reports them
// and submits new ones, after which the server restarts.
//
// Object names: "ipEdit", "maskEdit", "gatewayEdit", "submitButton",
// "cancelButton".
class FindDialog : public QDialog
{
    Q_OBJECT
public:
    // Reads the box's settings once before returning. The server's web forms
    // are on httpPort (80 on a real box).
    explicit FindDialog(const QString& boxAddress, QWidget* parent = nullptr,
                        quint16 httpPort = netconfig::kHttpPort);

    // Fills the three edits from the box; a setting the box does not report
    // leaves its edit as it was.
    void readNetworkSettings();

    QString boxAddress() const;
    // The window connects to another box later on; the dialog follows it.
    void setBoxAddress(const QString& boxAddress);
    quint16 httpPort() const;

    QLineEdit* ipEdit() const { return m_ipEdit; }
    QLineEdit* maskEdit() const { return m_maskEdit; }
    QLineEdit* gatewayEdit() const { return m_gatewayEdit; }
    QPushButton* submitButton() const { return m_submitButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

private slots:
    void set_network_settings();

private:
    netconfig::WebFormClient m_webForms;
    QLabel* m_ipLabel = nullptr;
    QLabel* m_maskLabel = nullptr;
    QLabel* m_gatewayLabel = nullptr;
    QLineEdit* m_ipEdit = nullptr;
    QLineEdit* m_maskEdit = nullptr;
    QLineEdit* m_gatewayEdit = nullptr;
    QPushButton* m_submitButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
};
