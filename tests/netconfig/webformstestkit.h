#pragma once

#include "boxsimulator.h"
#include "testenv.h"

#include <QtTest>

#include <memory>

namespace webformstest {

// A simulated box on an address of its own, its web forms on an ephemeral port.
inline std::unique_ptr<boxsim::BoxSimulator> startBox()
{
    boxsim::Options options;
    options.host = testenv::uniqueLoopbackHost();
    options.httpPort = 0;
    auto box = std::make_unique<boxsim::BoxSimulator>(options);
    QString error;
    if (!box->start(&error)) {
        qWarning("box simulator: %s", qPrintable(error));
        return nullptr;
    }
    return box;
}

inline QByteArray networkForm(const QByteArray& ip, const QByteArray& mask,
                              const QByteArray& gateway)
{
    return "/Forms/network_1?g_PortsCount=4&g_GoAfterSubmit=save.html&g_Logged=*&ip_address=" + ip +
           "&subnet_mask=" + mask + "&default_gateway=" + gateway + "&Submit=Save";
}

} // namespace webformstest
