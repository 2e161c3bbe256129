#include "appinfo.h"
#include "commandline.h"
#include "resourcesinit.h"
#include "tempsensor.h"

#include <QApplication>
#include <QFont>

#include <cstdio>

namespace {

// Prints what the command line asked for; true when the process ends here.
bool answered(const commandline::Outcome& outcome)
{
    std::fputs(outcome.standardOutput.toLocal8Bit().constData(), stdout);
    std::fputs(outcome.standardError.toLocal8Bit().constData(), stderr);
    return !outcome.openWindow;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (commandline::asksForHelpOrVersion(arguments)) {
        // Answered without the window system, so no display is needed.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationVersion(QString::fromLatin1(appinfo::kVersion));
        const commandline::Outcome outcome = commandline::evaluate(QCoreApplication::arguments());
        if (answered(outcome))
            return outcome.exitCode;
    }

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling); // always on in Qt 6
#endif
    registerBarotermResources();
    QApplication application(argc, argv);
    // Lets the desktop match the window to the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.example.Baroterm"));
    // The toolkit has taken its own options (-platform, -style, ...) by now.
    const commandline::Outcome outcome = commandline::evaluate(QApplication::arguments());
    if (answered(outcome))
        return outcome.exitCode;
#ifndef Q_OS_WIN
    // The form is laid out in fixed pixels for the small dialog font of
    // Windows; the larger desktop fonts elsewhere would clip its labels.
    QFont font = QApplication::font();
    font.setPointSizeF(7.5);
    QApplication::setFont(font);
#endif

    auto* window = new TempSensor();
    window->show();
    window->startSharing(outcome.monitor.endpoint, outcome.monitor.keyFile);
    // The box address is asked for at once, before the event loop runs.
    window->setIPAddress();

    const int status = application.exec();
    delete window;
    return status;
}
