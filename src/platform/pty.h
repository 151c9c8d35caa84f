// A pseudo-terminal pair: the master side plays the far end of a serial line (the receiver, or
// a test), the slave path is opened like any serial device.
//
// Thread contract: the object belongs to one thread; the master descriptor may be read on one
// thread and written on another.
//
// POSIX only: Windows has no pseudo-terminals; its tests map a Linux one to a COM port.
#pragma once

#include <string>

namespace orvane {

class PtyPair {
public:
    PtyPair() = default;
    ~PtyPair();
    PtyPair(PtyPair&& other) noexcept;
    PtyPair& operator=(PtyPair&& other) noexcept;
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsOpen() const { return m_master >= 0; }
    int MasterFd() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }
    // Closes the master side: the slave then sees a hang-up.
    void CloseMaster();

private:
    friend PtyPair OpenPtyPair(int* error);
    int m_master = -1;
    std::string m_slavePath;
};

// Opens a new pair with the line in raw mode (blocking master descriptor). On failure the
// result is not open and *error (when given) holds the errno.
PtyPair OpenPtyPair(int* error = nullptr);

} // namespace orvane
