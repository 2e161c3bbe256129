#include "finddialog.h"

#include "operatordialogs.h"
#include "webformexchange.h"

#include <QCursor>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The exchange's messages and wait cursor, through the one seam for dialogs.
class DialogOperator : public netconfig::Operator
{
public:
    void warn(const QString& text) override
    {
        OperatorDialogs::instance().warning(nullptr, QStringLiteral("Warning"), text,
                                            QMessageBox::Ok, QMessageBox::NoButton);
    }

    void setBusy(bool busy) override
    {
        if (busy)
            OperatorDialogs::instance().setOverrideCursor(QCursor(Qt::WaitCursor));
        else
            OperatorDialogs::instance().restoreOverrideCursor();
    }
};

QHBoxLayout* row(QLabel* label, QLineEdit* edit)
{
    label->setBuddy(edit);
    auto* layout = new QHBoxLayout;
    layout->addWidget(label);
    layout->addWidget(edit);
    return layout;
}

} // namespace

FindDialog::FindDialog(const QString& boxAddress, QWidget* parent, quint16 httpPort,
                       int transferLimitMs)
    : QDialog(parent), m_webForms(boxAddress, httpPort),
      m_operator(std::make_unique<DialogOperator>()),
      m_exchange(new netconfig::WebFormExchange(*m_operator, this))
{
    m_webForms.setTransferLimitMs(transferLimitMs);
    m_ipLabel = new QLabel(tr("IP:"), this);
    m_maskLabel = new QLabel(tr("Mask:"), this);
    m_gatewayLabel = new QLabel(tr("Gateway:"), this);
    m_ipEdit = new QLineEdit(this);
    m_ipEdit->setObjectName(QStringLiteral("ipEdit"));
    m_maskEdit = new QLineEdit(this);
    m_maskEdit->setObjectName(QStringLiteral("maskEdit"));
    m_gatewayEdit = new QLineEdit(this);
    m_gatewayEdit->setObjectName(QStringLiteral("gatewayEdit"));

    auto* rows = new QVBoxLayout;
    rows->addLayout(row(m_ipLabel, m_ipEdit));
    rows->addLayout(row(m_maskLabel, m_maskEdit));
    rows->addLayout(row(m_gatewayLabel, m_gatewayEdit));

    readNetworkSettings();

    m_submitButton = new QPushButton(tr("Sumbit"), this);
    m_submitButton->setObjectName(QStringLiteral("submitButton"));
    m_submitButton->setDefault(true);
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAutoDefault(false);
    m_buttonBox = new QDialogButtonBox(Qt::Horizontal, this);
    m_buttonBox->addButton(m_submitButton, QDialogButtonBox::ActionRole);
    m_buttonBox->addButton(m_cancelButton, QDialogButtonBox::ActionRole);
    connect(m_submitButton, SIGNAL(clicked(bool)), this, SLOT(set_network_settings()));
    connect(m_cancelButton, SIGNAL(clicked(bool)), this, SLOT(close()));

    auto* grid = new QGridLayout(this);
    grid->addLayout(rows, 5, 2);
    grid->addWidget(m_buttonBox, 7, 2);
    grid->setRowStretch(7, 1);

    setMinimumSize(170, 150);
    setMaximumSize(170, 150);
    setWindowTitle(tr("Change IP Settings"));
}

FindDialog::~FindDialog()
{
    // Ends the exchange while the operator it reports to is still there.
    delete m_exchange;
}

void FindDialog::readNetworkSettings()
{
    const netconfig::NetworkSettings shown{m_ipEdit->text(), m_maskEdit->text(),
                                           m_gatewayEdit->text()};
    if (!m_exchange->startReading(m_webForms, shown))
        return;
    const QMetaObject::Connection fill =
        connect(m_exchange, &netconfig::WebFormExchange::readingFinished, this,
                [this](const netconfig::NetworkSettings& read) {
                    m_ipEdit->setText(read.ipAddress);
                    m_maskEdit->setText(read.subnetMask);
                    m_gatewayEdit->setText(read.defaultGateway);
                });
    waitForExchange();
    disconnect(fill);
}

void FindDialog::cancelExchange()
{
    m_exchange->cancel();
}

void FindDialog::waitForExchange()
{
    // No deadline of its own: every request has its connection and transfer
    // limits, and a cancel ends the exchange at once.
    QEventLoop loop;
    connect(m_exchange, &netconfig::WebFormExchange::ended, &loop, &QEventLoop::quit);
    if (m_exchange->isRunning())
        loop.exec();
}

QString FindDialog::boxAddress() const
{
    return m_webForms.host();
}

void FindDialog::setBoxAddress(const QString& boxAddress)
{
    m_webForms.setHost(boxAddress);
}

quint16 FindDialog::httpPort() const
{
    return m_webForms.port();
}

void FindDialog::set_network_settings()
{
    const netconfig::NetworkSettings wanted{m_ipEdit->text(), m_maskEdit->text(),
                                            m_gatewayEdit->text()};
    if (!m_exchange->startApplying(m_webForms, wanted))
        return;
    bool applied = false;
    const QMetaObject::Connection result =
        connect(m_exchange, &netconfig::WebFormExchange::applyingFinished, this,
                [&applied](bool done) { applied = done; });
    m_buttonBox->setEnabled(false);
    waitForExchange();
    disconnect(result);
    m_buttonBox->setEnabled(true);
    // A refused text stays open for the operator to correct.
    if (applied)
        close();
}

void FindDialog::reject()
{
    if (!m_exchange->isRunning())
        QDialog::reject();
}
