#include "sharedialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

ShareDialog::ShareDialog(QWidget* parent, const ShareChoice& choice, PageAddressOf pageAddress)
    : QDialog(parent), m_pageAddress(std::move(pageAddress))
{
    setWindowTitle(tr("Share Live View"));
    m_on = new QCheckBox(tr("Serve the live view as a web page"), this);
    m_on->setObjectName(QStringLiteral("shareOn"));
    m_on->setChecked(choice.on);
    m_address = new QLineEdit(choice.address, this);
    m_address->setObjectName(QStringLiteral("shareAddress"));
    m_address->setToolTip(tr("127.0.0.1: this computer only; 0.0.0.0: every network it is on"));
    m_port = new QSpinBox(this);
    m_port->setObjectName(QStringLiteral("sharePort"));
    m_port->setRange(1, 65535);
    m_port->setValue(choice.port);
    m_page = new QLineEdit(this);
    m_page->setObjectName(QStringLiteral("sharePage"));
    m_page->setReadOnly(true);
    m_page->setMinimumWidth(360);
    auto* copy = new QPushButton(tr("Copy Address"), this);
    copy->setObjectName(QStringLiteral("shareCopy"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_page->text()); });

    auto* form = new QFormLayout;
    form->addRow(tr("Address:"), m_address);
    form->addRow(tr("Port:"), m_port);
    form->addRow(tr("Page:"), m_page);
    form->addRow(QString(), copy);
    auto* note = new QLabel(tr("The page and its access key travel unencrypted: share it on a "
                               "trusted network only, or behind a TLS proxy."),
                            this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_on);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);

    connect(m_on, &QCheckBox::toggled, this, &ShareDialog::showPageAddress);
    connect(m_address, &QLineEdit::textChanged, this, &ShareDialog::showPageAddress);
    connect(m_port, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &ShareDialog::showPageAddress);
    showPageAddress();
}

ShareChoice ShareDialog::choice() const
{
    return {m_on->isChecked(), m_address->text().trimmed(), m_port->value()};
}

void ShareDialog::showPageAddress()
{
    m_page->setText(m_pageAddress ? m_pageAddress(choice()) : QString());
}
