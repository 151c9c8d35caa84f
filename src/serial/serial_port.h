// The serial port worker: the only code that touches a serial device.
//
// One CSerialPort owns one open COM port and two threads of its own. The reader moves every
// incoming byte into a 2048-byte receive ring and posts WM_SERIAL_RECEIVED (wParam = bytes just
// placed in the ring, lParam = port number) to its owner; the writer writes one queued frame at
// a time. The owner (the user-interface thread) opens and configures the port, changes its baud
// rate, queues frames and empties the ring; it never reads or writes the device itself.
//
// Thread contract:
// - Constructor, OpenPort, StartThreads, QueueWrite, SetBaudRate, TakeReceived, ParseSettings
//   and the destructor: the owner's thread only, one call at a time.
// - IsLost and PortNumber: any thread.
// - ReaderThread and WriterThread run on the worker's own threads.
// - The ring has one producer (reader) and one consumer (TakeReceived). Each position is
//   written by one side only, published with release order after the bytes it covers and read
//   with acquire order. The reader never writes a byte the consumer has not taken yet.
// - The write slot is handed over by two events: m_hWriteDone is clear from QueueWrite until
//   the writer has finished; only the slot's current owner touches the write buffer.
// - Configuration failures are reported with a modal message box on the owner's thread.
#pragma once

#include "platform/event.h"
#include "platform/message.h"
#include "platform/serial_device.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace orvane {

class CMyPort {
public:
    static constexpr int kRingSize = 2048;
    // The ring keeps one position free to tell "full" from "empty".
    static constexpr int kRingCapacity = kRingSize - 1;

    CMyPort() = default;
    virtual ~CMyPort() = default;
    CMyPort(const CMyPort&) = delete;
    CMyPort& operator=(const CMyPort&) = delete;

protected:
    // Kill and alive flags: one writer each, polled by the other side.
    std::atomic<std::uint32_t> m_bKillReader{0};
    std::atomic<std::uint32_t> m_bReaderAlive{0};
    std::atomic<std::uint32_t> m_bWriterAlive{0};
    std::atomic<std::uint32_t> m_bKillWriter{0};
    IMessageTarget* m_pNotifyWnd = nullptr;
    std::atomic<std::int32_t> m_nRingWrite{0}; // written by the reader only
    std::atomic<std::int32_t> m_nRingRead{0};  // written by the consumer only
    std::array<std::uint8_t, kRingSize> m_ring{};
};

class CSerialPort : public CMyPort {
public:
    // TakeReceived's destination must hold a whole ring and the terminating zero.
    static constexpr std::size_t kTakeCapacity = kRingSize + 1;
    // A queued frame waits at most this long for the previous one to leave.
    static constexpr int kQueueWaitMs = 4000;
    // How many times the rest of a frame that a write time-out cut short is written again.
    static constexpr int kWriteRetries = 3;
    // Each stop pass waits this long for a thread to notice.
    static constexpr int kStopPassMs = 100;
    // A speed change waits at most this long for the output queue to empty: the longest frame
    // takes 1000 ms + 10 ms per byte to leave.
    static constexpr int kDrainBoundMs = 1000 + 10 * 512;

    CSerialPort();
    ~CSerialPort() override;

    // Opens and configures the port: exclusive open of the port's device, comm time-outs,
    // event mask, line settings with RTS on. Returns false only when the device cannot be
    // opened (no message then). A failing configuration step is reported in a message box,
    // the rest of the configuration is skipped, and the port stays open (true).
    // The device is the one the port directory knows as COM `port`.
    bool OpenPort(IMessageTarget* owner, int port, int baud, char parity, int data, int stop,
                  std::uint32_t eventMask, int bufferSize);
    // The same for the device at `devicePath`, opened exactly as named; `port` is the number
    // the receive notifications carry.
    bool OpenPort(IMessageTarget* owner, int port, const std::string& devicePath, int baud,
                  char parity, int data, int stop, std::uint32_t eventMask, int bufferSize);
    // The system error code of the last OpenPort that could not open its device (0 after a
    // success).
    int LastOpenError() const { return m_nOpenError; }

    // Starts the reader, then the writer. False when no port is open or a thread cannot start.
    bool StartThreads();

    // Hands one frame to the writer, waiting up to 4000 ms for the previous frame to leave.
    // Refuses (false, nothing written) a frame longer than the write buffer and a frame for
    // which the slot did not come free in time; also, at once, every frame once the process
    // has been asked to stop (a signal), so that a line that does not drain cannot hold the
    // user-interface thread.
    bool QueueWrite(const std::uint8_t* bytes, int length);

    // Frames that did not leave whole: refused by QueueWrite, or cut short by the write
    // time-out or a failure. Any thread.
    std::uint64_t WriteFailures() const { return m_nWriteFailures.load(std::memory_order_acquire); }

    // Changes the baud rate of the open port once every frame queued before has left the
    // line; failures are reported in a message box and return false. The new rate is kept in
    // the line settings even when the port refuses it.
    bool SetBaudRate(int baud);
    // The line settings as last read and written.
    const LineSettings& CurrentLineSettings() const { return m_lineSettings; }

    // Moves every unread byte of the ring to the destination (kTakeCapacity bytes at least),
    // adds a terminating zero and returns the count moved.
    int TakeReceived(std::uint8_t* destination);
    // The same for a destination of any size: at most capacity - 1 bytes are moved.
    int TakeReceived(std::uint8_t* destination, std::size_t capacity);

    // True once the device has gone (unplugged, hung up): the reader then posts nothing more.
    bool IsLost() const { return m_bLost.load(std::memory_order_acquire); }
    int PortNumber() const { return m_nPortNumber; }
    // True when the open port is a pseudo-terminal rather than a serial line to hardware.
    bool IsPseudoTerminal() const { return m_hPort && m_hPort->IsPseudoTerminal(); }

    // Reads a settings text such as "baud=9600 parity=N data=8 stop=1" into the four line
    // fields. False, with the settings untouched, unless exactly four values are found.
    static bool ParseSettings(std::string_view text, LineSettings& settings);

protected:
    // Shows the failure of a named system call with the saved error in a message box.
    void ReportFailure(const char* name);

    void ReaderThread();
    void WriterThread();

private:
    enum class DrainOutcome { Nothing, Drained, RingFull, Lost };

    DrainOutcome DrainInput();
    void WritePending();
    void MarkLost();
    // Posts WM_SERIAL_RECEIVED; a post the owner's full queue refused is owed, and the reader
    // tries again on its next pass, so neither bytes nor a loss can go unannounced.
    void Notify(WPARAM count);
    void PayOwedNotification();
    // Asks both threads to stop, reader first. With atLeastOnce each side gets one pass even
    // when its thread is not alive; then both threads are joined.
    void StopThreads(bool atLeastOnce);
    int CreateEvents();

    std::thread m_pReaderThread;
    std::thread m_pWriterThread;
    std::mutex m_lock; // configuration vs. the reader's status queries
    ManualResetEvent m_hReaderShutdown;
    ManualResetEvent m_hWriterShutdown;
    std::unique_ptr<ISerialDevice> m_hPort;
    ManualResetEvent m_hWriteRequest;
    ManualResetEvent m_hWriteDone;
    // Set by the consumer after it has made room in the ring; a reader facing a full ring
    // waits for it instead of polling the device, which would stay readable.
    ManualResetEvent m_hRoomMade;
    // Wait sets, in priority order: shutdown first.
    std::array<const ManualResetEvent*, 2> m_readerWaitSet{&m_hReaderShutdown, &m_hRoomMade};
    std::array<const ManualResetEvent*, 2> m_writerWaitSet{&m_hWriterShutdown, &m_hWriteRequest};
    CommTimeouts m_portTimeouts;
    LineSettings m_lineSettings;
    int m_nPortNumber = 0;
    std::unique_ptr<std::uint8_t[]> m_pWriteBuffer;
    int m_nWriteLength = 0;
    std::uint32_t m_dwEventMask = 0;
    int m_nWriteCapacity = 0;
    int m_nLastError = 0; // error code of the last failed configuration call
    int m_nOpenError = 0; // error code of the last failed open
    std::atomic<bool> m_bLost{false};
    std::atomic<bool> m_bNotifyOwed{false};
    std::atomic<std::uint64_t> m_nWriteFailures{0};
};

} // namespace orvane
