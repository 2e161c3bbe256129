// The files a logged run leaves beside its logs, as the window offers them:
// the instrument table their uncertainties come from, and the last report.
#include "tempsensor.h"

#include "appinfo.h"
#include "instrumenttable.h"
#include "operatordialogs.h"
#include "settingskeys.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

namespace {

constexpr int kWarningMs = 6000;
constexpr int kReportNoticeMs = 15000;

} // namespace

void TempSensor::setUpReportActions()
{
    QMenu* menu = ui.menuSet_IP_address;
    menu->addSeparator();
    QAction* table = menu->addAction(tr("Instrument Table..."));
    table->setObjectName(QStringLiteral("actionInstrument_Table"));
    connect(table, &QAction::triggered, this, [this] { chooseInstrumentTable(); });
    QAction* report = menu->addAction(tr("Run Report..."));
    report->setObjectName(QStringLiteral("actionRun_Report"));
    connect(report, &QAction::triggered, this, [this] { showRunReport(); });
    connect(session, &BoxSession::reportWritten, this, &TempSensor::reportWritten);
}

void TempSensor::chooseInstrumentTable()
{
    const QString current =
        settings->value(QLatin1String(settingskeys::kInstrumentTable)).toString();
    const QString chosen = OperatorDialogs::instance().getOpenFileName(
        this, tr("Select the instrument table"),
        current.isEmpty() ? QDir::homePath() : QFileInfo(current).absolutePath(),
        tr("Instrument tables (*.ini);;All files (*)"), nullptr, QFileDialog::Options());
    if (chosen.isEmpty())
        return;
    QString why;
    if (!records::readInstrumentTable(chosen, &why)) {
        // The table in use stays.
        showWarningStatus(tr("Warning: instrument table refused: %1").arg(why), kWarningMs);
        return;
    }
    settings->setValue(QLatin1String(settingskeys::kInstrumentTable), chosen);
    statusBar()->showMessage(tr("Instrument table: %1").arg(QDir::toNativeSeparators(chosen)),
                             kReportNoticeMs);
}

void TempSensor::useInstrumentTable(BoxSession::RunSetup& setup)
{
    setup.program = QStringLiteral("baroterm %1").arg(QLatin1String(appinfo::kVersion));
    const QString path = settings->value(QLatin1String(settingskeys::kInstrumentTable)).toString();
    if (path.isEmpty() || !setup.plan.writeLog)
        return; // the session takes the typical values
    QString why;
    const std::optional<uncertainty::InstrumentTable> table =
        records::readInstrumentTable(path, &why);
    if (!table) {
        showWarningStatus(
            tr("Warning: instrument table refused, the report takes typical values: %1").arg(why),
            kWarningMs);
        return;
    }
    setup.instruments = *table;
    setup.instrumentsName = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

void TempSensor::showRunReport()
{
    const QString report = settings->value(QLatin1String(settingskeys::kLastRunReport)).toString();
    if (report.isEmpty() || !QFileInfo::exists(report)) {
        showWarningStatus(tr("Warning: no run report to show yet: a logged run writes one at its "
                             "end."),
                          kWarningMs);
        return;
    }
    if (!OperatorDialogs::instance().openUrl(QUrl::fromLocalFile(report)))
        showWarningStatus(tr("Warning: no program could open %1").arg(report), kWarningMs);
}

void TempSensor::reportWritten(const QString& report)
{
    settings->setValue(QLatin1String(settingskeys::kLastRunReport), report);
    statusBar()->showMessage(
        tr("Run report: %1 (Settings > Run Report...)").arg(QDir::toNativeSeparators(report)),
        kReportNoticeMs);
}
