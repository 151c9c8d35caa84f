#include "platform/open_failure.h"
#include "platform/port_directory.h"
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
    explicit SerialWorker(std::unique_ptr<CSerialPort> port) : m_port(std::move(port)) {}
    void QueueWrite(const std::uint8_t* bytes, int length) override {
        m_port->QueueWrite(bytes, length);
    }
    void SetBaudRate(int baud) override { m_port->SetBaudRate(baud); }
    int TakeReceived(std::uint8_t* dest) override { return m_port->TakeReceived(dest); }
    bool IsLost() const override { return m_port->IsLost(); }

private:
    std::unique_ptr<CSerialPort> m_port;
};

} // namespace

PortOpener SerialPortOpener() {
    return
        [](IMessageTarget* owner, int port, OpenFailure& failure) -> std::unique_ptr<IPortWorker> {
            auto worker = std::make_unique<CSerialPort>();
            if (!worker->OpenPort(owner, port, kBaud, kParity, kDataBits, kStopBits, kEventMask,
                                  kWriteBuffer)) {
                failure.reason = orvane::DescribeOpenFailure(port);
                return nullptr;
            }
            worker->StartThreads();
            return std::make_unique<SerialWorker>(std::move(worker));
        };
}

PortLister SystemPortLister() {
    return [] { return EnumeratePortNames(); };
}

} // namespace orvane::ui
