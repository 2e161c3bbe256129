#pragma once

#include "boxsimulator.h"

#include <QString>

#include <array>

namespace boxsim {

// The command line's fault syntax: DEVICE:MODE[=VALUE][,MODE[=VALUE]...]
// DEVICE is temperature, n2, o2, pulse, http or all (or a port 4000..4003).
// Applies the modes to `faults`; false with a message on a bad option.
bool applyFaultOption(const QString& text, std::array<Faults, kDeviceCount>& faults,
                      QString* error);

// The syntax as the --help text explains it.
QString faultOptionHelp();

} // namespace boxsim
