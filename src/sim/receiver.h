// The simulated receiver on a line: drives a BootSim on the master side of a pseudo-terminal
// (the updater opens the slave path) or on a real serial port, in a thread of its own.
//
// On a pseudo-terminal the speed of every byte is the one the updater set on its side: on
// Linux the master's line settings are the slave's. On a real port the simulation sets its own
// port to the speed the boot loader listens at, once the replies before the change have left.
//
// Thread contract: every member may be called from any thread; Start and Stop must not race
// each other. Stop (and the destructor) joins the thread before the descriptors are closed.
#pragma once

#include "sim/bootsim.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace orvane::bootsim {

class SimulatedReceiver {
public:
    SimulatedReceiver() = default;
    ~SimulatedReceiver();
    SimulatedReceiver(const SimulatedReceiver&) = delete;
    SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;

    // Creates a pseudo-terminal and starts answering on it. Returns the path of the side the
    // updater opens (the configuration's link path when it has one), or "" on failure with
    // the reason in *error.
    std::string Start(const Config& config, std::string* error = nullptr);

    // Opens a serial device (for example one end of a null-modem cable) and starts answering on
    // it. Returns the path on success, "" on failure with the reason in *error.
    std::string StartOnDevice(const std::string& path, const Config& config,
                              std::string* error = nullptr);

    // The firmware the receiver expects from its next identification on (an updater that
    // loads another package tells its in-process receiver so).
    void SetFirmware(std::shared_ptr<const firmware::FirmwareSet> firmware);

    // Stops the thread and closes the line. Safe to call more than once.
    void Stop();

    // True while the thread answers; false after Stop, after a lost line, and after the
    // transfer completed when the configuration asks to stop then.
    bool Running() const { return m_running.load(std::memory_order_acquire); }

    // Waits until the transfer completed (true) or the time passed (false).
    bool WaitForCompletion(std::chrono::milliseconds timeout);
    // Waits until the thread ended by itself (exit after completion, lost line).
    bool WaitForEnd(std::chrono::milliseconds timeout);

    // A snapshot of the report, also while the transfer runs and after Stop.
    SimReport Report() const;
    std::string ReportJson() const { return ToJson(Report()); }

private:
    bool Launch(const Config& config, std::string* error);
    // Opens a new pseudo-terminal pair (and points the link at it); "" on failure.
    std::string OpenPty(const std::string& linkPath, std::string* error);
    // The line goes away for a while and comes back as a new one; false when stopping.
    bool Vanish(const Config& config);
    // False (with the reason) while a thread still runs; otherwise closes what is left open.
    bool ReadyToStart(std::string* error);
    // Closes what a failed start opened and returns "" with the errno text in *error.
    std::string FailStart(const char* what, std::string* error);
    void Run();
    bool WriteAll(const std::vector<std::uint8_t>& bytes, bool pace);
    bool SleepUntil(std::chrono::steady_clock::time_point deadline); // false when stopping
    std::uint32_t LineBaud();
    void SetDeviceBaud(std::uint32_t baud);
    void CloseAll();

    int m_fd = -1;          // master side, or the device
    int m_keepSlave = -1;   // our own slave descriptor: the line stays up between updater opens
    std::string m_linkPath; // the link made to the line, removed at Stop
    int m_wake[2] = {-1, -1};
    bool m_isDevice = false;
    std::uint32_t m_deviceBaud = 9600;
    std::chrono::steady_clock::time_point m_rxWireEnd{};

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};

    mutable std::mutex m_mutex; // guards m_sim and the flags below
    std::condition_variable m_changed;
    std::unique_ptr<BootSim> m_sim;
    bool m_completed = false;
    // Turnaround samples (guarded by m_mutex); the clock is the runner thread's own.
    std::vector<std::uint32_t> m_turnaroundUs;
    std::chrono::steady_clock::time_point m_ackSentAt{};
    bool m_ackPending = false;
    bool m_ended = false;
    std::uint32_t m_lineReturns = 0; // guarded by m_mutex
};

} // namespace orvane::bootsim
