// baroterm-run's command line: a run with every option checked, help,
// version, or one refusal.
// Input: the arguments after the program name, each ended by a zero byte.
#include "fuzzsupport.h"
#include "ipv4address.h"
#include "runsetup.h"

#include <QCoreApplication>

using runner::CommandLine;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The help text names the program: one application object for every input.
    static int argc = 1;
    static char name[] = "baroterm-run";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QStringList arguments{QStringLiteral("baroterm-run")};
    for (const QByteArray& argument : fuzzsupport::bytes(data, size).split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    if (size > 0 && data[size - 1] == 0)
        arguments.removeLast(); // the zero that ends the last argument

    const CommandLine parsed = runner::parseCommandLine(arguments);
    switch (parsed.action) {
    case CommandLine::Action::Refuse:
        FUZZ_CHECK(!parsed.text.isEmpty());
        return 0;
    case CommandLine::Action::Help:
        FUZZ_CHECK(parsed.text.contains(QLatin1String("--resume")));
        return 0;
    case CommandLine::Action::Version:
        FUZZ_CHECK(parsed.text.startsWith(QLatin1String("baroterm-run ")));
        return 0;
    case CommandLine::Action::Run:
        break;
    }
    const runner::Options& o = parsed.options;
    FUZZ_CHECK(o.pulses >= 1 && o.pulses <= 99);
    // The box in its plain form, the one the run connects to.
    FUZZ_CHECK(o.box.isEmpty() ||
               (ipv4::isDottedAddress(o.box) && ipv4::plainDecimal(o.box) == o.box));
    if (o.resume.isEmpty()) {
        FUZZ_CHECK(!o.box.isEmpty());
        FUZZ_CHECK(arguments.contains(QLatin1String("--preset")) ||
                   arguments.filter(QLatin1String("--preset=")).size() > 0);
    } else {
        // The journal holds the plan: nothing on the command line changes it.
        FUZZ_CHECK(o.preset.isEmpty() && o.log.isEmpty() && !o.overwrite && o.color);
        FUZZ_CHECK(o.pulses == 1 && o.reference.isEmpty() && !o.cameraFeedback);
    }
    return 0;
}
