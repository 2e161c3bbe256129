#include "boxmodel.h"

void BoxModel::setGasOff(bool off)
{
    if (m_gasOff == off)
        return;
    m_gasOff = off;
    emit gasOffChanged(off);
}

void BoxModel::setLogging(bool on)
{
    if (m_logging == on)
        return;
    m_logging = on;
    emit loggingChanged(on);
}

void BoxModel::temperatureRead(float celsius)
{
    m_lastReading = celsius;
    m_temperature = celsius;
    emit temperatureChanged(celsius);
}

void BoxModel::temperatureEchoed(float celsius)
{
    m_temperature = celsius;
}

void BoxModel::o2Shown(const QString& text)
{
    m_o2Text = text;
    m_airPressureBar = gasmix::equivalentAirPressure(m_n2Text.toDouble(), m_o2Text.toDouble());
    emit flowsChanged(m_airPressureBar);
}
