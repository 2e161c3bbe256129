#pragma once

#include "access.h"

#include <QString>
#include <QStringList>

#include <optional>

// The window program's command line: --help and --version print and end the
// process; --monitor shares the live view as a web page.
namespace commandline {

struct Outcome
{
    bool openWindow = true;
    int exitCode = 0;
    QString standardOutput;
    QString standardError;
    // --monitor: where the live view's page is served, whatever the settings say.
    monitor::MonitorOptions monitor;
};

// Whether the raw arguments ask for help or the version, so that they can be
// answered before the window system is started (no display needed).
bool asksForHelpOrVersion(const QStringList& arguments);

// Reads the arguments left after the toolkit took its own (-platform, -style,
// ...). Needs an application object for the program name in the help text.
// Unknown options end the process with status 2; other arguments are ignored,
// as they always were.
Outcome evaluate(const QStringList& arguments);

} // namespace commandline
