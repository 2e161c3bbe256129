#pragma once

#include "gasmix.h"

#include <QObject>
#include <QString>

// What the window shows of the box and of the operator's choices: gas on or
// off, logging on or off, and the last readings. The run's plan and its
// records are taken from here, never from widgets; the widgets show it.
class BoxModel : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    bool gasOff() const { return m_gasOff; }
    void setGasOff(bool off);
    bool logging() const { return m_logging; }
    void setLogging(bool on);

    // The temperature poller's reading.
    void temperatureRead(float celsius);
    // A set point's echo carries a temperature too; it moves what a record
    // holds, not what the run steps on.
    void temperatureEchoed(float celsius);
    // What a record holds: the last reading or echo, degrees C.
    float temperature() const { return m_temperature; }
    // What the run steps on: the poller's last reading.
    float lastTemperatureReading() const { return m_lastReading; }

    // The flows as their readouts show them. The equivalent air pressure is
    // computed from both texts, as the operator sees them, when O2 is read.
    void n2Shown(const QString& text) { m_n2Text = text; }
    void o2Shown(const QString& text);
    QString n2Text() const { return m_n2Text; }
    QString o2Text() const { return m_o2Text; }
    // Bar; gasmix::kNoPressure when no pressure is known.
    float airPressureBar() const { return m_airPressureBar; }

signals:
    void gasOffChanged(bool off);
    void loggingChanged(bool on);
    void temperatureChanged(float celsius);
    void flowsChanged(float airPressureBar);

private:
    bool m_gasOff = true;
    bool m_logging = false;
    float m_temperature = 0.0f;
    float m_lastReading = 0.0f;
    QString m_n2Text, m_o2Text;
    float m_airPressureBar = gasmix::kNoPressure;
};
