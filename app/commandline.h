#pragma once

#include <QString>
#include <QStringList>

// The window program's command line: --help and --version print and end the
// process; they are its only options.
namespace commandline {

struct Outcome
{
    bool openWindow = true;
    int exitCode = 0;
    QString standardOutput;
    QString standardError;
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
