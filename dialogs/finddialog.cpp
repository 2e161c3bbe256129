#include "finddialog.h"

#include "operatordialogs.h"

#include <QCursor>
#include <QDialogButtonBox>
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

FindDialog::FindDialog(const QString& boxAddress, QWidget* parent, quint16 httpPort)
    : QDialog(parent), m_webForms(boxAddress, httpPort)
{
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

void FindDialog::readNetworkSettings()
{
    DialogOperator op;
    const netconfig::NetworkSettings shown{m_ipEdit->text(), m_maskEdit->text(),
                                           m_gatewayEdit->text()};
    const netconfig::NetworkSettings read = m_webForms.read(op, shown);
    m_ipEdit->setText(read.ipAddress);
    m_maskEdit->setText(read.subnetMask);
    m_gatewayEdit->setText(read.defaultGateway);
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
    DialogOperator op;
    const netconfig::NetworkSettings wanted{m_ipEdit->text(), m_maskEdit->text(),
                                            m_gatewayEdit->text()};
    // A refused text stays open for the operator to correct.
    if (m_webForms.apply(op, wanted))
        close();
}
