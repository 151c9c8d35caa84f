// The port directory: COM port numbers 1 to 255 for the serial devices of this machine.
//
// The system names ports by number ("\\.\COM3"); device paths on POSIX are names
// ("/dev/ttyUSB0"). The directory keeps the map in the settings store, group "Ports", one key
// per number ("Ports/COM3" = "/dev/ttyUSB0"). Every device gets the lowest free number the
// first time it is seen and keeps it across runs, so a receiver that stays on one adapter stays
// on one COM number. A device path given directly (a pseudo-terminal, a /dev/serial/by-id link)
// is numbered the same way; paths are kept as given, not resolved.
//
// Thread contract: any thread; calls on one directory are serialised internally.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QSettings;

namespace orvane {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;

// Device names in the system's form: "\\.\COM%d". The setup dialog shows them without their
// first four characters.
std::u16string DeviceNameForPort(int port);

// Lists the real serial devices present now: USB adapters (/dev/ttyUSB*), modems and CDC-ACM
// receivers (/dev/ttyACM*), and on-board ports (/dev/ttyS*) only when backed by hardware.
std::vector<std::string> ScanSerialDevices();

class CPortDirectory {
public:
    using Scanner = std::function<std::vector<std::string>()>;

    // An empty settings file means the user's settings store.
    explicit CPortDirectory(std::string settingsFile = {}, Scanner scanner = ScanSerialDevices);
    ~CPortDirectory();
    CPortDirectory(const CPortDirectory&) = delete;
    CPortDirectory& operator=(const CPortDirectory&) = delete;

    // The devices present now, numbered, as "\\.\COMn" in ascending number order.
    std::vector<std::u16string> EnumeratePortNames();
    // The device of a number, or the empty text when the number is unknown or out of range.
    // An unknown number triggers one scan first, so a device plugged in since is found.
    std::string DevicePathForPort(int port);
    // The number of a device path, assigning the lowest free one at first sight; 0 when the
    // path is empty or all 255 numbers are taken.
    int NumberForDevice(const std::string& path);

    void SetScanner(Scanner scanner);

private:
    std::unique_ptr<QSettings> Open() const;
    int NumberLocked(QSettings& store, const std::string& path);

    std::mutex m_mutex;
    std::string m_settingsFile;
    Scanner m_scanner;
};

// The process-wide directory over the user's settings store.
CPortDirectory& PortDirectory();

std::vector<std::u16string> EnumeratePortNames();
std::string DevicePathForPort(int port);
int NumberForDevice(const std::string& path);

} // namespace orvane
