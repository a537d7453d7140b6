#pragma once
#include "adapter/ComPortList.h"

// The serial ports Qt finds on this computer (QSerialPortInfo). Friendly
// name: the device's description, or its port name when it has none.
class TQtComPortSource : public TComPortSource {
public:
    std::vector<TDevice> PresentDevices() override;
};
