// The calibration log and the raw gas log beside it.
#include "tempsensor.h"

#include "logfiles.h"
#include "operatordialogs.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString logDialogStartFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\");
#else
    return QDir::homePath();
#endif
}

} // namespace

void TempSensor::setLogFile(bool on)
{
    // Every change of the box comes here, the operator's and the window's own.
    model.setLogging(on);
    if (on)
        chooseLogFile();
    else
        ui.logNameEdit->clear();
}

void TempSensor::chooseLogFile()
{
    const QString chosen = OperatorDialogs::instance().getSaveFileName(
        this, tr("Select pt-log file name and format"), logDialogStartFolder(),
        QStringLiteral("*.csv;;*.cls"), &logFilter, QFileDialog::Options());
    if (chosen.isEmpty()) {
        // Nothing will be written, so the box must not look as if it were.
        refuseLogFile(records::logStatusMessage(records::LogStatus::CantOpenLog));
        return;
    }

    const records::LogFileNames names = records::logFileNamesFor(chosen, logFilter);
    // The dialog asked about replacing the name it showed; a name the layout
    // changed may be another operator's file.
    if (names.log != records::nativePath(chosen) && QFileInfo::exists(names.log)) {
        const QMessageBox::StandardButton answer = OperatorDialogs::instance().question(
            this, tr("Replace log file"),
            tr("%1 already exists.\nDo you want to replace it?").arg(names.log),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            refuseLogFile(QString());
            return;
        }
    }

    runLog.setFiles(names);
    ui.logNameEdit->setText(names.log);
    const records::LogStatus status = runLog.create(logFormat());
    if (status != records::LogStatus::Ok) {
        showWarningStatus(records::logStatusMessage(status), 4000);
        ui.groupBox_4->setChecked(false);
    }
}

void TempSensor::refuseLogFile(const QString& warning)
{
    runLog.setFiles({});
    ui.groupBox_4->setChecked(false);
    ui.logNameEdit->clear();
    if (!warning.isEmpty())
        showWarningStatus(warning, 4000);
}

records::LogFormat TempSensor::logFormat() const
{
    return {records::layoutFromFilter(logFilter), ui.colorSelectcheckBox->isChecked(),
            pressureUnitFactor};
}

bool TempSensor::writeCalibrationRecord()
{
    if (!model.logging()) {
        runLog.forgetLast();
        return true;
    }
    records::RecordValues values;
    values.pressureBar = model.airPressureBar();
    values.temperature = model.temperature();
    values.n2Text = model.n2Text();
    values.o2Text = model.o2Text();
    // On failure neither file holds the record and the numbering stays.
    return runLog.append(logFormat(), values) == records::LogStatus::Ok;
}
