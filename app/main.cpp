#include "resourcesinit.h"
#include "tempsensor.h"

#include <QApplication>
#include <QFont>

int main(int argc, char* argv[])
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling); // always on in Qt 6
#endif
    registerBarotermResources();
    QApplication application(argc, argv);
#ifndef Q_OS_WIN
    // The form is laid out in fixed pixels for the small dialog font of
    // Windows; the larger desktop fonts elsewhere would clip its labels.
    QFont font = QApplication::font();
    font.setPointSizeF(7.5);
    QApplication::setFont(font);
#endif

    auto* window = new TempSensor();
    window->show();
    // The box address is asked for at once, before the event loop runs.
    window->setIPAddress();

    const int status = application.exec();
    delete window;
    return status;
}
