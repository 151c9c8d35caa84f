#include "serial/serial_port.h"

#include "platform/system_error.h"

#include "platform/port_directory.h"
#include "platform/stop_request.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace orvane {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kReaderWaitBound{500};
// A frame waiting for the write slot looks for a stop request this often.
constexpr milliseconds kStopCheckSlice{50};
// A reader told "readable" that then finds nothing waiting pauses this long before it polls
// again, so an odd driver cannot make it spin.
constexpr milliseconds kSpuriousPause{10};
// The failure report is formatted into this many characters, terminating zero included.
constexpr std::size_t kReportBound = 200;

// Reads a decimal integer at the start of the text; false when there is none.
bool ReadNumber(std::string_view text, long long& value) {
    const auto* first = text.data();
    const auto* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc{} && ptr != first;
}

// Cuts UTF-8 text to at most max bytes without splitting a character.
std::string CutUtf8(std::string text, std::size_t max) {
    if (text.size() <= max)
        return text;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

} // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort() {
    StopThreads(true);
    m_hPort.reset();
    m_pWriteBuffer.reset();
}

void CSerialPort::StopThreads(bool atLeastOnce) {
    // A write waiting for a line that does not drain would hold the writer (and this stop)
    // for its whole time-out.
    if (m_hPort)
        m_hPort->CancelTransfers();
    const auto stop = [&](std::atomic<std::uint32_t>& kill, std::atomic<std::uint32_t>& alive,
                          ManualResetEvent& shutdown) {
        bool first = atLeastOnce;
        while (first || alive.load() != 0) {
            first = false;
            kill.store(1);
            shutdown.Set();
            std::this_thread::sleep_for(milliseconds(kStopPassMs));
        }
    };
    stop(m_bKillReader, m_bReaderAlive, m_hReaderShutdown);
    stop(m_bKillWriter, m_bWriterAlive, m_hWriterShutdown);
    // A thread that had not yet begun when its pass ran finds its shutdown event set and ends
    // at once; joining makes sure neither outlives the port.
    m_hReaderShutdown.Set();
    m_hWriterShutdown.Set();
    if (m_pReaderThread.joinable())
        m_pReaderThread.join();
    if (m_pWriterThread.joinable())
        m_pWriterThread.join();
}

int CSerialPort::CreateEvents() {
    for (auto [event, set] :
         {std::pair{&m_hWriteRequest, false}, std::pair{&m_hWriteDone, true},
          std::pair{&m_hReaderShutdown, false}, std::pair{&m_hWriterShutdown, false},
          std::pair{&m_hRoomMade, false}}) {
        if (const int error = event->Create(set); error != 0)
            return error;
    }
    return 0;
}

bool CSerialPort::OpenPort(IMessageTarget* owner, int port, int baud, char parity, int data,
                           int stop, std::uint32_t eventMask, int bufferSize) {
    return OpenPort(owner, port, DevicePathForPort(port), baud, parity, data, stop, eventMask,
                    bufferSize);
}

bool CSerialPort::OpenPort(IMessageTarget* owner, int port, const std::string& devicePath, int baud,
                           char parity, int data, int stop, std::uint32_t eventMask,
                           int bufferSize) {
    StopThreads(false);
    // Without events nothing could ever wait or be woken: treat it like a port that cannot be
    // opened.
    if (const int error = CreateEvents(); error != 0) {
        m_nOpenError = error;
        return false;
    }

    m_pNotifyWnd = owner;
    const int capacity = std::max(bufferSize, 0);
    m_pWriteBuffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(capacity));
    m_nPortNumber = port;
    m_nWriteCapacity = capacity;
    m_nWriteLength = 0;
    m_dwEventMask = eventMask;

    std::unique_lock lock(m_lock);
    m_hPort.reset();
    m_bLost.store(false);

    const std::string settings =
        FormatAnsi("baud=%d parity=%c data=%d stop=%d", baud, parity, data, stop);

    OpenResult opened = OpenSerialDevice(devicePath);
    m_nOpenError = opened.error;
    if (!opened.device) {
        if (m_nOpenError == 0)
            m_nOpenError = kErrorNoDevice;
        return false;
    }
    m_nOpenError = 0;
    m_hPort = std::move(opened.device);

    // Reads only ever ask for bytes already waiting; a write returns within
    // 1000 ms + 10 ms per byte.
    m_portTimeouts = CommTimeouts{65535, 0, 0, 10, 1000};
    const char* failedCall = nullptr;
    int error = 0;
    if ((error = m_hPort->SetTimeouts(m_portTimeouts)) != 0) {
        failedCall = "SetCommTimeouts()";
    } else if ((error = m_hPort->SetMask(m_dwEventMask)) != 0) {
        failedCall = "SetCommMask()";
    } else if ((error = m_hPort->GetState(m_lineSettings)) != 0) {
        failedCall = "GetCommState()";
    } else {
        m_lineSettings.fRtsControl = RTS_CONTROL_ENABLE;
        if (!ParseSettings(settings, m_lineSettings)) {
            error = kErrorInvalidArgument;
            failedCall = "BuildCommDCB()";
        } else if ((error = m_hPort->SetState(m_lineSettings)) != 0) {
            failedCall = "SetCommState()";
        }
    }
    m_nLastError = error;
    if (failedCall != nullptr) {
        // The box comes before the purge, as the operator expects the failure first. It is
        // modal and keeps this thread dispatching messages, so it is shown without the lock
        // (no reader runs yet: the threads start only after OpenPort).
        lock.unlock();
        ReportFailure(failedCall);
        lock.lock();
    }
    m_hPort->Purge();
    return true;
}

bool CSerialPort::ParseSettings(std::string_view text, LineSettings& settings) {
    // 64 bits on every system: a long cannot hold every 32-bit rate where it is 32 bits wide.
    long long baud = 9600;
    std::uint8_t parity = NOPARITY;
    long long data = 8;
    std::uint8_t stopBits = ONESTOPBIT;
    int completed = 0;

    const auto complete = [&](std::string_view value) {
        ++completed;
        long long number = 0;
        switch (completed) {
        case 1:
            if (ReadNumber(value, number) && number > 0 &&
                number <= static_cast<long long>(UINT32_MAX))
                baud = number;
            break;
        case 2:
            switch (value.front()) {
            case 'E':
            case 'e':
                parity = EVENPARITY;
                break;
            case 'M':
            case 'm':
                parity = MARKPARITY;
                break;
            case 'N':
            case 'n':
                parity = NOPARITY;
                break;
            case 'O':
            case 'o':
                parity = ODDPARITY;
                break;
            case 'S':
            case 's':
                parity = SPACEPARITY;
                break;
            default:
                break;
            }
            break;
        case 3:
            if (ReadNumber(value, number) && number >= 0 && number <= 255)
                data = number;
            break;
        case 4:
            if (value == "1")
                stopBits = ONESTOPBIT;
            else if (value == "1.5")
                stopBits = ONE5STOPBITS;
            else if (value == "2")
                stopBits = TWOSTOPBITS;
            break;
        default:
            break;
        }
    };

    bool inValue = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && text[i - 1] == '=') {
            inValue = true;
            start = i;
        }
        if (inValue && text[i] == ' ') {
            if (i > start)
                complete(text.substr(start, i - start));
            inValue = false;
        }
    }
    if (inValue && text.size() > start)
        complete(text.substr(start));

    if (completed != 4)
        return false;
    settings.BaudRate = static_cast<std::uint32_t>(baud);
    settings.Parity = parity;
    settings.ByteSize = static_cast<std::uint8_t>(data);
    settings.StopBits = stopBits;
    return true;
}

bool CSerialPort::StartThreads() {
    if (!m_hPort || m_pReaderThread.joinable() || m_pWriterThread.joinable())
        return false;
    // Marked alive before they start, so a stop that comes at once still waits for them.
    m_bReaderAlive.store(1);
    m_bWriterAlive.store(1);
    try {
        m_pReaderThread = std::thread([this] { ReaderThread(); });
    } catch (const std::system_error&) {
        m_bReaderAlive.store(0);
        m_bWriterAlive.store(0);
        return false;
    }
    try {
        m_pWriterThread = std::thread([this] { WriterThread(); });
    } catch (const std::system_error&) {
        m_bWriterAlive.store(0);
        return false;
    }
    return true;
}

void CSerialPort::MarkLost() {
    // Only the first loss is announced. A notification that carries no bytes tells the owner
    // to look at IsLost(): without it an update waiting for an acknowledgement would never
    // learn that none can come.
    if (m_bLost.exchange(true, std::memory_order_acq_rel))
        return;
    Notify(0);
}

void CSerialPort::Notify(WPARAM count) {
    if (m_pNotifyWnd == nullptr)
        return;
    const bool posted =
        m_pNotifyWnd->PostMessageW(WM_SERIAL_RECEIVED, count, static_cast<LPARAM>(m_nPortNumber));
    if (!posted)
        m_bNotifyOwed.store(true, std::memory_order_release);
}

void CSerialPort::PayOwedNotification() {
    if (m_bNotifyOwed.exchange(false, std::memory_order_acq_rel))
        Notify(0); // the owner takes whatever the ring holds; the count is not used
}

void CSerialPort::ReaderThread() {
    m_bReaderAlive.store(1);
    m_bKillReader.store(0);
    bool ringFull = false;
    for (;;) {
        bool stop = false;
        bool drain = false;
        PayOwedNotification();
        if (IsLost()) {
            // Nothing more will come from a lost device: wait for the stop, and meanwhile
            // retry a loss notification the owner's queue refused.
            stop = m_hReaderShutdown.Wait(m_bNotifyOwed.load() ? kReaderWaitBound : kInfinite);
        } else if (ringFull) {
            const int index = WaitForAny(m_readerWaitSet, kReaderWaitBound);
            stop = index == 0;
            drain = !stop;
        } else {
            switch (m_hPort->WaitInput(m_hReaderShutdown, kReaderWaitBound)) {
            case WaitResult::Woken:
                stop = true;
                break;
            case WaitResult::Readable:
                drain = true;
                break;
            case WaitResult::Lost:
                MarkLost();
                break;
            case WaitResult::Timeout:
                break;
            }
        }
        if (stop || m_hReaderShutdown.IsSet()) {
            m_bReaderAlive.store(0);
            return; // exit code 100
        }
        if (!drain)
            continue;
        const DrainOutcome outcome = DrainInput();
        ringFull = outcome == DrainOutcome::RingFull;
        if (outcome == DrainOutcome::Nothing && m_hReaderShutdown.Wait(kSpuriousPause)) {
            m_bReaderAlive.store(0);
            return;
        }
    }
}

CSerialPort::DrainOutcome CSerialPort::DrainInput() {
    DrainOutcome outcome = DrainOutcome::Nothing;
    while (m_bKillReader.load() == 0) {
        std::size_t waiting = 0;
        int error = 0;
        {
            std::lock_guard lock(m_lock);
            error = m_hPort->ClearErrors(waiting);
        }
        if (error != 0) {
            // The status query only fails on a device that has gone.
            MarkLost();
            return DrainOutcome::Lost;
        }
        if (waiting == 0)
            return outcome;

        // Reset before the room is computed, so room made from now on wakes a full-ring wait.
        m_hRoomMade.Reset();
        const int write = m_nRingWrite.load(std::memory_order_relaxed);
        const int read = m_nRingRead.load(std::memory_order_acquire);
        const int unread = (write - read + kRingSize) % kRingSize;
        const std::size_t room = static_cast<std::size_t>(
            std::min(kRingSize - write, kRingCapacity - unread)); // never past the end or onto
                                                                  // unread bytes
        const std::size_t n = std::min(waiting, room);
        if (n == 0)
            return DrainOutcome::RingFull; // the excess stays in the driver until room is made

        const IoResult got = m_hPort->Read(m_ring.data() + write, n);
        if (got.count > 0) {
            const int count = static_cast<int>(got.count);
            m_nRingWrite.store((write + count) % kRingSize, std::memory_order_release);
            outcome = DrainOutcome::Drained;
            Notify(static_cast<WPARAM>(count));
        }
        if (got.error != 0) {
            if (IsDeviceLost(got.error)) {
                MarkLost();
                return DrainOutcome::Lost;
            }
            return outcome;
        }
    }
    return outcome;
}

int CSerialPort::TakeReceived(std::uint8_t* destination) {
    return TakeReceived(destination, kTakeCapacity);
}

int CSerialPort::TakeReceived(std::uint8_t* destination, std::size_t capacity) {
    if (destination == nullptr || capacity == 0)
        return 0;
    const std::size_t limit = std::min<std::size_t>(capacity - 1, kRingSize);
    std::size_t i = 0;
    int read = m_nRingRead.load(std::memory_order_relaxed);
    int write = m_nRingWrite.load(std::memory_order_acquire);
    while (i < limit) {
        if (read == write) {
            write = m_nRingWrite.load(std::memory_order_acquire);
            if (read == write)
                break;
        }
        destination[i++] = m_ring[static_cast<std::size_t>(read)];
        read = (read + 1) % kRingSize;
    }
    destination[i] = 0;
    if (i > 0) {
        m_nRingRead.store(read, std::memory_order_release);
        m_hRoomMade.Set();
    }
    return static_cast<int>(i);
}

bool CSerialPort::QueueWrite(const std::uint8_t* bytes, int length) {
    // A frame that does not fit is refused whole rather than cut or written past the buffer.
    if (!m_pWriteBuffer || length < 0 || length > m_nWriteCapacity ||
        (length > 0 && bytes == nullptr))
        return false;
    // Until the writer sets m_hWriteDone it may still be reading the buffer: a frame that
    // finds the slot busy after the wait is refused instead of overwriting the one in flight.
    // The wait goes in slices so that a stop asked meanwhile is seen within one.
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(kQueueWaitMs);
    bool free = false;
    while (!StopRequested()) {
        const auto left =
            std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            free = m_hWriteDone.IsSet();
            break;
        }
        if (m_hWriteDone.Wait(std::min(left, kStopCheckSlice))) {
            free = true;
            break;
        }
    }
    if (StopRequested())
        return false; // not the line's fault: the program is ending
    if (!free) {
        m_nWriteFailures.fetch_add(1, std::memory_order_acq_rel);
        return false;
    }
    if (length > 0)
        std::memcpy(m_pWriteBuffer.get(), bytes, static_cast<std::size_t>(length));
    m_nWriteLength = length;
    m_hWriteDone.Reset();
    m_hWriteRequest.Set();
    return true;
}

void CSerialPort::WriterThread() {
    m_bKillWriter.store(0);
    m_bWriterAlive.store(1);
    for (;;) {
        const int index = WaitForAny(m_writerWaitSet, kInfinite);
        if (index == 0) {
            m_bWriterAlive.store(0);
            return; // exit code 101
        }
        if (index == 1) {
            WritePending();
        } else if (m_hWriterShutdown.Wait(milliseconds(kStopPassMs))) {
            // The wait itself failed; pause rather than spin, and stop when asked.
            m_bWriterAlive.store(0);
            return;
        }
    }
}

void CSerialPort::WritePending() {
    m_hWriteRequest.Reset();
    if (!IsLost()) {
        std::size_t waiting = 0;
        m_hPort->ClearErrors(waiting);
        // A write the driver's time-outs cut short leaves the rest of the frame behind: the
        // receiver would get half a frame and never answer. The rest goes after it, a few times
        // at most (each try is bounded by the write time-outs); a frame that still did not leave
        // whole is counted, and the updater says so.
        const auto length = static_cast<std::size_t>(m_nWriteLength);
        std::size_t done = 0;
        IoResult sent;
        for (int attempt = 0; attempt <= kWriteRetries && done < length; ++attempt) {
            sent = m_hPort->Write(m_pWriteBuffer.get() + done, length - done);
            const std::size_t moved = std::min(sent.count, length - done);
            done += moved;
            // Only a line that still moves is worth another try: one that took nothing in a
            // whole time-out is jammed, and the updater must hear of it without more waiting.
            const bool cutShort = sent.error == 0 || sent.error == kErrorTimedOut;
            if (!cutShort || moved == 0 || m_bKillWriter.load() != 0)
                break;
        }
        if (done < length)
            m_nWriteFailures.fetch_add(1, std::memory_order_acq_rel);
        if (sent.error != 0 && IsDeviceLost(sent.error))
            MarkLost();
    } else {
        m_nWriteFailures.fetch_add(1, std::memory_order_acq_rel);
    }
    std::fill_n(m_pWriteBuffer.get(), m_nWriteCapacity, std::uint8_t{0});
    m_hWriteDone.Set();
}

bool CSerialPort::SetBaudRate(int baud) {
    // A frame still in the write slot or in the driver's output queue would leave partly at
    // the new speed and reach the receiver garbled: let it go out first. The wait for the slot
    // has the bound QueueWrite has; the drain is bounded like the write itself.
    if (m_hPort) {
        m_hWriteDone.Wait(milliseconds(kQueueWaitMs));
        m_hPort->Drain(milliseconds(kDrainBoundMs));
    }
    int error = 0;
    const char* failedCall = nullptr;
    {
        std::lock_guard lock(m_lock);
        if (!m_hPort) {
            error = kErrorBadHandle;
            failedCall = "GetCommState()";
        } else if ((error = m_hPort->GetState(m_lineSettings)) != 0) {
            failedCall = "GetCommState()";
        } else {
            m_lineSettings.BaudRate = static_cast<std::uint32_t>(baud);
            if (baud <= 0) {
                error = kErrorInvalidArgument;
                failedCall = "SetCommState()";
            } else if ((error = m_hPort->SetState(m_lineSettings)) != 0) {
                failedCall = "SetCommState()";
            }
        }
    }
    if (failedCall == nullptr)
        return true;
    m_nLastError = error;
    ReportFailure(failedCall);
    return false;
}

void CSerialPort::ReportFailure(const char* name) {
    static constexpr const char* kFormat =
        "WARNING:  %s Failed with the following error: \n%s\nPort: %d\n";
    // Room left for the system's text once the rest is in; a longer text is cut so the port
    // line always shows.
    const int fixed = std::snprintf(nullptr, 0, kFormat, name, "", m_nPortNumber);
    const std::size_t room =
        fixed < 0 ? 0
                  : kReportBound - 1 -
                        std::min<std::size_t>(static_cast<std::size_t>(fixed), kReportBound - 1);
    const std::string systemText = CutUtf8(ErrorText(m_nLastError), room);
    std::array<char, kReportBound> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), kFormat, name, systemText.c_str(),
                                m_nPortNumber);
    const std::size_t length =
        n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), buffer.size() - 1);
    MessageBoxW(nullptr, FromUtf8(std::string_view(buffer.data(), length)), u"Application Error",
                MB_OK | MB_ICONERROR);
}

} // namespace orvane
