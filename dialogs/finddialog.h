#pragma once

#include "webforms.h"

#include <QDialog>

#include <memory>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace netconfig {
class WebFormExchange;
}

// Shows the box's network settings as its serial device server reports them
// and submits new ones, after which the server restarts. The exchanges with
// the server run on a thread of their own; the calls that wait for one run
// the event loop meanwhile, so any slot of the window may run inside them.
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
                        quint16 httpPort = netconfig::kHttpPort,
                        int transferLimitMs = netconfig::kTransferLimitMs);
    ~FindDialog() override;

    // Fills the three edits from the box; a setting the box does not report
    // leaves its edit as it was. Returns when the reading is over.
    void readNetworkSettings();
    // Ends the exchange under way, if any, at once: nothing more is sent to
    // the box and the call waiting for it returns.
    void cancelExchange();

    QString boxAddress() const;
    // The window connects to another box later on; the dialog follows it.
    void setBoxAddress(const QString& boxAddress);
    quint16 httpPort() const;

    QLineEdit* ipEdit() const { return m_ipEdit; }
    QLineEdit* maskEdit() const { return m_maskEdit; }
    QLineEdit* gatewayEdit() const { return m_gatewayEdit; }
    QPushButton* submitButton() const { return m_submitButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

protected:
    // Refused while new settings are being submitted: the exchange ends by
    // itself within its limits and then closes the dialog.
    void reject() override;

private slots:
    void set_network_settings();

private:
    // Runs the event loop until the exchange under way has ended.
    void waitForExchange();

    // The server's address, port and limits; the transfers run on
    // m_exchange's thread.
    netconfig::WebFormClient m_webForms;
    std::unique_ptr<netconfig::Operator> m_operator;
    netconfig::WebFormExchange* m_exchange = nullptr;
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
