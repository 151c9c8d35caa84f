#include "platform/serial_device.h"

#include <mutex>
#include <utility>

namespace orvane {

namespace {
std::mutex& FactoryMutex() {
    static std::mutex m;
    return m;
}

SerialDeviceFactory& Factory() {
    static SerialDeviceFactory factory;
    return factory;
}

} // namespace

OpenResult OpenSerialDevice(const std::string& path) {
    SerialDeviceFactory factory;
    {
        std::lock_guard lock(FactoryMutex());
        factory = Factory();
    }
    return factory ? factory(path) : OpenSystemSerialDevice(path);
}

SerialDeviceFactory SetSerialDeviceFactory(SerialDeviceFactory factory) {
    std::lock_guard lock(FactoryMutex());
    return std::exchange(Factory(), std::move(factory));
}

} // namespace orvane
