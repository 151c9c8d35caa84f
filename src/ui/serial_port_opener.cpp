#include "platform/open_failure.h"
#include "platform/port_directory.h"
#include "platform/text.h"
#include "serial/serial_port.h"
#include "ui/port_worker.h"

namespace orvane::ui {

namespace {

// The line every receiver's boot loader starts at: 9600 baud, no parity, 8 data bits,
// 1 stop bit; event mask 9 (received characters and CTS changes); a 512-byte write buffer.
constexpr int kBaud = 9600;
constexpr char kParity = 'N';
constexpr int kDataBits = 8;
constexpr int kStopBits = 1;
constexpr std::uint32_t kEventMask = 9;
constexpr int kWriteBuffer = 512;

class SerialWorker final : public IPortWorker {
public:
    SerialWorker(std::unique_ptr<CSerialPort> port, std::string path, std::string identity)
        : m_port(std::move(port)), m_path(std::move(path)), m_identity(std::move(identity)) {}
    bool QueueWrite(const std::uint8_t* bytes, int length) override {
        if (m_port->QueueWrite(bytes, length))
            return true;
        // A refused frame would otherwise stall the transfer without a word: the receiver
        // waits for a block that never comes.
        const std::string reason =
            length > kWriteBuffer
                ? FormatAnsi("The frame of %d bytes is longer than the write buffer of %d bytes.",
                             length, kWriteBuffer)
                : FormatAnsi("The previous frame did not leave the port within %d ms.",
                             CSerialPort::kQueueWaitMs);
        MessageBoxW(nullptr,
                    FormatText("WARNING:  %s Failed with the following error: \n%s\nPort: %d\n",
                               "QueueWrite()", reason.c_str(), m_port->PortNumber()),
                    u"Application Error", MB_OK | MB_ICONERROR);
        return false;
    }
    bool SetBaudRate(int baud) override { return m_port->SetBaudRate(baud); }
    int TakeReceived(std::uint8_t* dest) override { return m_port->TakeReceived(dest); }
    bool IsLost() const override { return m_port->IsLost(); }
    std::string DevicePath() const override { return m_path; }
    std::string Identity() const override { return m_identity; }
    bool IsPseudoTerminal() const override { return m_port->IsPseudoTerminal(); }
    std::uint64_t WriteFailures() const override { return m_port->WriteFailures(); }

private:
    std::unique_ptr<CSerialPort> m_port;
    std::string m_path;
    std::string m_identity;
};

} // namespace

PortOpener SerialPortOpener() {
    return [](IMessageTarget* owner, const PortRequest& request,
              OpenFailure& failure) -> std::unique_ptr<IPortWorker> {
        CPortDirectory& directory = PortDirectory();
        // A path named directly is taken as it is; only a bare number goes through the
        // directory, and then to the device present now under that number's identity.
        std::string path = request.path;
        if (path.empty() && !request.identity.empty()) {
            path = directory.PathForIdentity(request.identity);
            if (path.empty()) {
                failure.reason = "the device of COM" + std::to_string(request.number) + " (" +
                                 request.identity + ") is not present";
                return nullptr;
            }
        }
        if (path.empty()) {
            path = directory.DevicePathForPort(request.number);
            if (path.empty()) {
                failure.reason = DescribeOpenFailure(request.number);
                return nullptr;
            }
        }
        auto worker = std::make_unique<CSerialPort>();
        if (!worker->OpenPort(owner, request.number, path, kBaud, kParity, kDataBits, kStopBits,
                              kEventMask, kWriteBuffer)) {
            failure.reason = DescribeDeviceOpenFailure(path, worker->LastOpenError());
            return nullptr;
        }
        if (!worker->StartThreads()) {
            // Without its reader and writer the port would take frames and never send them.
            failure.reason = "the port's reader and writer threads could not be started (the "
                             "system is out of threads or memory)";
            return nullptr;
        }
        // A device named by its path may have been away when its number was given (the
        // updater waited for it): now that it is open, the directory stores that number as
        // the device's own.
        if (!request.path.empty())
            directory.NumberForDevice(path);
        std::string identity =
            request.identity.empty() ? directory.IdentityForPath(path) : request.identity;
        return std::make_unique<SerialWorker>(std::move(worker), std::move(path),
                                              std::move(identity));
    };
}

PortLister SystemPortLister() {
    return [] { return EnumeratePortNames(); };
}

PortDescriber SystemPortDescriber() {
    return [](int port) -> std::u16string {
        const auto info = PortDirectory().PortForNumber(port);
        if (!info)
            return {};
        std::string text = info->path;
        std::string product = info->product;
        if (!info->manufacturer.empty())
            product += (product.empty() ? "" : " ") + ("(" + info->manufacturer + ")");
        if (!info->VendorProduct().empty())
            product += (product.empty() ? "USB " : ", USB ") + info->VendorProduct();
        if (!product.empty())
            text += "\n" + product;
        if (!info->serial.empty())
            text += "\nSerial number " + info->serial;
        return FromUtf8(text);
    };
}

} // namespace orvane::ui
