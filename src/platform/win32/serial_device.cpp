// The serial device over the Win32 communications calls.
//
// The port is opened for overlapped transfers. The worker still sees synchronous calls: each
// read and write waits for its own completion, bounded by the comm time-outs the driver
// applies, but also for the device's cancel event, so CancelTransfers ends a write that a
// stuck line holds without waiting for its time-out. The configuration calls (comm state,
// time-outs, purge, error state) are the system's own and complete at once.
//
// Waiting for input waits for the driver's received-character event (an overlapped
// WaitCommEvent) and the wake-up event together, and looks at the input count at least every
// 50 ms besides, so a character that came just before a wait began is never held up for long.
// A driver without comm events is polled in one-millisecond slices instead; the system timer
// runs at one millisecond while a port is open, so that such a slice means what it says.
#include "platform/serial_device.h"
#include "platform/win32/text.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace orvane {

namespace {

using Steady = std::chrono::steady_clock;

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
static_assert(kPurgeAll == 15);

// Driver queue sizes asked for at opening: a whole ring's worth of input and more than the
// longest frame of output.
constexpr DWORD kInputQueue = 4096;
constexpr DWORD kOutputQueue = 4096;

// A wait for input looks at the input count at least this often, whatever the driver's
// events say.
constexpr DWORD kEventSliceMs = 50;
// Polling, where the driver has no events to wait for, and the output drain.
constexpr DWORD kPollSliceMs = 1;

int LastError() {
    return static_cast<int>(::GetLastError());
}

// An event handle owned by one object.
class OwnedEvent {
public:
    OwnedEvent() : m_h(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~OwnedEvent() {
        if (m_h != nullptr)
            ::CloseHandle(m_h);
    }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h;
};

class Win32SerialDevice final : public ISerialDevice {
public:
    Win32SerialDevice(HANDLE h, const DCB& found, const COMMTIMEOUTS& foundTimeouts)
        : m_h(h), m_found(found), m_foundTimeouts(foundTimeouts) {
        ::SetCommMask(m_h, CommMask());
        ::timeBeginPeriod(1);
    }
    ~Win32SerialDevice() override {
        // What has not left by now never will be wanted; then leave the line as it was found,
        // for the next program that uses the port.
        ::PurgeComm(m_h, kPurgeAll);
        ::SetCommState(m_h, &m_found);
        ::SetCommTimeouts(m_h, &m_foundTimeouts);
        ::CloseHandle(m_h);
        ::timeEndPeriod(1);
    }
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    void CancelTransfers() override {
        m_cancelled.store(true, std::memory_order_release);
        ::SetEvent(m_cancel.get());
    }

    int SetTimeouts(const CommTimeouts& t) override {
        COMMTIMEOUTS native{};
        native.ReadIntervalTimeout = t.ReadIntervalTimeout;
        native.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
        native.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
        native.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
        native.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
        return ::SetCommTimeouts(m_h, &native) ? 0 : LastError();
    }

    int SetMask(std::uint32_t mask) override {
        {
            std::lock_guard lock(m_mutex);
            m_mask = mask;
        }
        return ::SetCommMask(m_h, CommMask()) ? 0 : LastError();
    }

    int GetState(LineSettings& settings) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(m_h, &dcb))
            return LastError();
        LineSettings s;
        s.BaudRate = dcb.BaudRate;
        s.ByteSize = dcb.ByteSize;
        s.Parity = dcb.Parity;
        s.StopBits = dcb.StopBits;
        s.fRtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
        settings = s;
        return 0;
    }

    int SetState(const LineSettings& s) override {
        if (s.BaudRate == 0 || s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > SPACEPARITY ||
            s.StopBits > TWOSTOPBITS || (s.StopBits == ONE5STOPBITS && s.ByteSize != 5) ||
            s.fRtsControl > RTS_CONTROL_TOGGLE)
            return ERROR_INVALID_PARAMETER;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(m_h, &dcb))
            return LastError();
        dcb.BaudRate = s.BaudRate;
        dcb.ByteSize = s.ByteSize;
        dcb.Parity = s.Parity;
        dcb.fParity = s.Parity != NOPARITY;
        dcb.StopBits = s.StopBits;
        dcb.fRtsControl = s.fRtsControl;
        return ::SetCommState(m_h, &dcb) ? 0 : LastError();
    }

    int Purge() override { return ::PurgeComm(m_h, kPurgeAll) ? 0 : LastError(); }

    int Drain(std::chrono::milliseconds bound) override {
        // FlushFileBuffers has no bound, and a stuck adapter would hold the caller for ever:
        // watch the output count instead.
        const Steady::time_point deadline = Steady::now() + bound;
        for (;;) {
            DWORD errors = 0;
            COMSTAT stat{};
            if (!::ClearCommError(m_h, &errors, &stat))
                return LastError();
            if (stat.cbOutQue == 0)
                return 0;
            if (Steady::now() >= deadline)
                return ERROR_TIMEOUT;
            ::Sleep(kPollSliceMs);
        }
    }

    int ClearErrors(std::size_t& waitingInput) override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(m_h, &errors, &stat))
            return LastError();
        waitingInput = stat.cbInQue;
        return 0;
    }

    IoResult Read(std::uint8_t* buffer, std::size_t length) override {
        return Transfer(m_readDone.get(), [&](OVERLAPPED& ov, DWORD& done) {
            return ::ReadFile(m_h, buffer, Clamp(length), &done, &ov);
        });
    }

    IoResult Write(const std::uint8_t* bytes, std::size_t length) override {
        IoResult result = Transfer(m_writeDone.get(), [&](OVERLAPPED& ov, DWORD& done) {
            return ::WriteFile(m_h, bytes, Clamp(length), &done, &ov);
        });
        // The driver ends a write that its time-outs cut short as a success with fewer bytes.
        if (result.error == 0 && result.count < length)
            result.error = ERROR_TIMEOUT;
        return result;
    }

    WaitResult WaitInput(const ManualResetEvent& wake, std::chrono::milliseconds timeout) override {
        const bool forever = timeout.count() < 0;
        const Steady::time_point deadline = Steady::now() + timeout;
        for (;;) {
            if (wake.IsSet())
                return WaitResult::Woken;
            std::size_t waiting = 0;
            if (ClearErrors(waiting) != 0)
                return WaitResult::Lost;
            if (waiting > 0)
                return WaitResult::Readable;
            DWORD slice = kEventSliceMs;
            if (!forever) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
                if (left <= 0)
                    return WaitResult::Timeout;
                slice = static_cast<DWORD>(std::min<long long>(left, kEventSliceMs));
            }
            WaitForCharacter(wake, slice);
        }
    }

private:
    // Waits up to `ms` for the driver's received-character event or the wake-up event; the
    // caller then looks at the input count itself. A character that came just before the wait
    // began is caught by the next slice at the latest.
    void WaitForCharacter(const ManualResetEvent& wake, DWORD ms) {
        const HANDLE wakeObject = wake.IsValid() ? wake.Native() : m_cancel.get();
        OVERLAPPED ov{};
        ov.hEvent = m_commEvent.get();
        ::ResetEvent(ov.hEvent);
        DWORD events = 0;
        if (ov.hEvent == nullptr || !::WaitCommEvent(m_h, &events, &ov)) {
            if (ov.hEvent == nullptr || ::GetLastError() != ERROR_IO_PENDING) {
                // No event to wait for: poll in short slices instead.
                ::WaitForSingleObject(wakeObject, std::min<DWORD>(ms, kPollSliceMs));
                return;
            }
            const HANDLE waits[2] = {ov.hEvent, wakeObject};
            if (::WaitForMultipleObjects(2, waits, FALSE, ms) != WAIT_OBJECT_0) {
                // Setting the mask again ends a pending wait at once; a driver that does not
                // is cancelled.
                ::SetCommMask(m_h, CommMask());
                if (::WaitForSingleObject(ov.hEvent, kPollSliceMs * 10) != WAIT_OBJECT_0)
                    ::CancelIoEx(m_h, &ov);
            }
            DWORD unused = 0;
            ::GetOverlappedResult(m_h, &ov, &unused, TRUE);
        }
    }

    // The mask the driver gets: the worker's, and always the received-character event that
    // WaitInput waits for.
    DWORD CommMask() {
        std::lock_guard lock(m_mutex);
        return m_mask | EV_RXCHAR;
    }

    static DWORD Clamp(std::size_t length) {
        return static_cast<DWORD>(std::min<std::size_t>(length, MAXDWORD));
    }

    // Starts one overlapped transfer and waits for it to end or for the cancel event.
    template <typename Start> IoResult Transfer(HANDLE done, Start start) {
        IoResult result;
        if (m_cancelled.load(std::memory_order_acquire)) {
            result.error = ERROR_OPERATION_ABORTED;
            return result;
        }
        if (done == nullptr) {
            result.error = ERROR_NOT_ENOUGH_MEMORY;
            return result;
        }
        OVERLAPPED ov{};
        ov.hEvent = done;
        ::ResetEvent(done);
        DWORD count = 0;
        if (!start(ov, count)) {
            const int error = LastError();
            if (error != ERROR_IO_PENDING) {
                result.error = error;
                return result;
            }
            const HANDLE waits[2] = {done, m_cancel.get()};
            const DWORD rc = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (rc != WAIT_OBJECT_0)
                ::CancelIoEx(m_h, &ov);
            // Waits for the end even after a cancel: the buffer is the caller's.
            if (!::GetOverlappedResult(m_h, &ov, &count, TRUE))
                result.error = LastError();
        }
        result.count = count;
        return result;
    }

    const HANDLE m_h;
    DCB m_found; // the line as found, restored at closing
    COMMTIMEOUTS m_foundTimeouts;
    std::atomic<bool> m_cancelled{false};
    OwnedEvent m_cancel;    // set by CancelTransfers
    OwnedEvent m_readDone;  // the reader thread's transfers
    OwnedEvent m_writeDone; // the writer thread's transfers
    OwnedEvent m_commEvent; // the reader thread's waits for a received character
    std::mutex m_mutex;     // guards m_mask
    std::uint32_t m_mask = 0;
};

// "\\.\COM3" as given, "COM3" made into it; anything else is taken as the system's name.
std::wstring DeviceName(const std::string& path) {
    if (path.size() > 3 && (path[0] == 'C' || path[0] == 'c') &&
        (path[1] == 'O' || path[1] == 'o') && (path[2] == 'M' || path[2] == 'm'))
        return win32::Wide("\\\\.\\" + path);
    return win32::Wide(path);
}

} // namespace

OpenResult OpenSystemSerialDevice(const std::string& path) {
    OpenResult result;
    if (path.empty()) {
        result.error = ERROR_FILE_NOT_FOUND;
        return result;
    }
    // No sharing: a second open, by this or another program, fails with access denied.
    HANDLE h = ::CreateFileW(DeviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        result.error = LastError();
        return result;
    }
    auto fail = [&](int error) {
        ::CloseHandle(h);
        result.error = error;
        return std::move(result);
    };
    // Only a communications device has a comm state: a file or a pipe is refused here.
    DCB found{};
    found.DCBlength = sizeof found;
    if (!::GetCommState(h, &found))
        return fail(LastError());
    COMMTIMEOUTS foundTimeouts{};
    ::GetCommTimeouts(h, &foundTimeouts);
    ::SetupComm(h, kInputQueue, kOutputQueue);
    // Raw and 8-bit clean: no flow control in either direction, no character replacement,
    // and line errors do not halt the transfers; DTR on, as a terminal program leaves it.
    DCB raw = found;
    raw.fBinary = TRUE;
    raw.fOutxCtsFlow = FALSE;
    raw.fOutxDsrFlow = FALSE;
    raw.fDtrControl = DTR_CONTROL_ENABLE;
    raw.fDsrSensitivity = FALSE;
    raw.fOutX = FALSE;
    raw.fInX = FALSE;
    raw.fErrorChar = FALSE;
    raw.fNull = FALSE;
    raw.fAbortOnError = FALSE;
    if (!::SetCommState(h, &raw))
        return fail(LastError());
    result.device = std::make_unique<Win32SerialDevice>(h, found, foundTimeouts);
    return result;
}

} // namespace orvane
