#include "adapter/QtComPortSource.h"

#include <QSerialPortInfo>

std::vector<TComPortSource::TDevice> TQtComPortSource::PresentDevices()
{
    std::vector<TDevice> devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    devices.reserve(static_cast<size_t>(ports.size()));
    for (const QSerialPortInfo& port : ports) {
        TDevice device;
        device.PortName = port.portName().toStdString();
        const QString description = port.description();
        device.FriendlyName = description.isEmpty() ? device.PortName : description.toStdString();
        devices.push_back(std::move(device));
    }
    return devices;
}
