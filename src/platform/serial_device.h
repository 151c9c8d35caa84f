// The serial device: the one interface through which the serial worker touches a port.
//
// The calls mirror what the worker needs from the system: exclusive open, the five comm
// time-outs, the line settings (baud, parity, data bits, stop bits, RTS), a purge, the count of
// waiting input bytes, read, write, and a wait for input readiness that a wake-up event can cut
// short. Every call reports failure as the system's error code (0 for success: errno on POSIX,
// GetLastError() on Windows, see system_error.h); ErrorText() gives the system's text for it.
//
// Devices are made by a factory that tests can replace (SetSerialDeviceFactory), so the worker
// can be driven against a scripted fake. The real back ends are termios (posix/serial_device.cpp)
// and the Win32 comm calls (win32/serial_device.cpp).
//
// Thread contract: one device is shared by three threads of its worker. Configuration calls
// (SetTimeouts, SetMask, GetState, SetState, Purge, Drain) come from the owner's thread; Read,
// WaitInput and ClearErrors from the reader thread; Write and ClearErrors from the writer
// thread. Implementations must allow these to overlap.
#pragma once

#include "platform/event.h"
#include "platform/system_error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvane {

// Comm time-outs in milliseconds. A read waits for its bytes until the total bound
// (multiplier * bytes + constant) passes or, once bytes have come, until the line stays quiet
// longer than the interval; zero means no such bound. A write returns within
// multiplier * bytes + constant (no bound when both are zero).
struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// The system's names for the line settings. Where <windows.h> came first they are its own
// macros, with the same values.
#ifndef NOPARITY
constexpr std::uint8_t NOPARITY = 0;
#endif
#ifndef ODDPARITY
constexpr std::uint8_t ODDPARITY = 1;
#endif
#ifndef EVENPARITY
constexpr std::uint8_t EVENPARITY = 2;
#endif
#ifndef MARKPARITY
constexpr std::uint8_t MARKPARITY = 3;
#endif
#ifndef SPACEPARITY
constexpr std::uint8_t SPACEPARITY = 4;
#endif

#ifndef ONESTOPBIT
constexpr std::uint8_t ONESTOPBIT = 0;
#endif
#ifndef ONE5STOPBITS
constexpr std::uint8_t ONE5STOPBITS = 1;
#endif
#ifndef TWOSTOPBITS
constexpr std::uint8_t TWOSTOPBITS = 2;
#endif

#ifndef RTS_CONTROL_DISABLE
constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
#endif
#ifndef RTS_CONTROL_ENABLE
constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
#endif

// Line settings of a port.
struct LineSettings {
    std::uint32_t BaudRate = 9600;
    std::uint8_t ByteSize = 8;          // 5..8
    std::uint8_t Parity = NOPARITY;     // NOPARITY..SPACEPARITY
    std::uint8_t StopBits = ONESTOPBIT; // ONESTOPBIT, ONE5STOPBITS (5 data bits only), TWOSTOPBITS
    std::uint8_t fRtsControl = RTS_CONTROL_ENABLE;

    bool operator==(const LineSettings&) const = default;
};

struct IoResult {
    std::size_t count = 0; // bytes moved, also on failure
    int error = 0;         // the system's error code, 0 for success
};

enum class WaitResult {
    Woken,    // the wake-up event is set (wins over input)
    Readable, // input is waiting
    Timeout,
    Lost, // the device hung up or failed: no more input will come
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    virtual int SetTimeouts(const CommTimeouts& timeouts) = 0;
    // The event mask is only kept: nothing waits for port events.
    virtual int SetMask(std::uint32_t mask) = 0;
    virtual int GetState(LineSettings& settings) = 0;
    virtual int SetState(const LineSettings& settings) = 0;
    // Abandons pending transfers and empties both queues.
    virtual int Purge() = 0;
    // Waits until every byte written so far has left the line, or the bound passes
    // (ETIMEDOUT then). A device without an output queue of its own has nothing to wait for.
    virtual int Drain(std::chrono::milliseconds /*bound*/) { return 0; }
    // Clears the error state and reports the bytes waiting in the input queue.
    virtual int ClearErrors(std::size_t& waitingInput) = 0;
    virtual IoResult Read(std::uint8_t* buffer, std::size_t length) = 0;
    virtual IoResult Write(const std::uint8_t* bytes, std::size_t length) = 0;
    // Waits until input is waiting, the wake-up event is set, the device is lost or the
    // time-out passes. A negative time-out waits forever.
    virtual WaitResult WaitInput(const ManualResetEvent& wake,
                                 std::chrono::milliseconds timeout) = 0;
    // True when the device is a pseudo-terminal (the simulated receiver's line) rather than a
    // serial line to real hardware. Anything that cannot tell says false: the safe answer.
    virtual bool IsPseudoTerminal() const { return false; }
    // Makes a read or write that is waiting for the line return at once (ECANCELED), and
    // every later one too: the port is being closed, and a line that does not drain must not
    // hold the closing up. Any thread.
    virtual void CancelTransfers() {}
};

struct OpenResult {
    std::unique_ptr<ISerialDevice> device; // null on failure
    int error = 0;
};

// Opens a device path for exclusive reading and writing. A second open of the same device, by
// this or another program, fails (EBUSY; on Windows access denied) while the first is held.
using SerialDeviceFactory = std::function<OpenResult(const std::string& path)>;

OpenResult OpenSerialDevice(const std::string& path);

// Replaces the factory (an empty one restores the system's); returns the previous one.
SerialDeviceFactory SetSerialDeviceFactory(SerialDeviceFactory factory);

// The system's own factory (termios on POSIX, the comm calls on Windows).
OpenResult OpenSystemSerialDevice(const std::string& path);

} // namespace orvane
