#include "resourcesinit.h"
#include "tempsensor.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    registerBarotermResources();
    QApplication application(argc, argv);

    auto* window = new TempSensor();
    window->show();
    // The box address is asked for at once, before the event loop runs.
    window->setIPAddress();

    const int status = application.exec();
    delete window;
    return status;
}
