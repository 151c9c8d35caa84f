// A trace of the line for support cases: every byte the updater writes and reads, with the
// time since the start, the direction, and the frames the bytes make, so that one file shows
// what happened between the updater and the receiver.
//
//   0.100214 TX 9: 24 24 53 53 18 06 42 34 39 ...
//   0.100214 TX frame SS type 24, 6 bytes: "B49,B5"
//   0.142907 RX 13: 24 24 53 53 14 04 4B 36 34 45 ...
//   0.142907 RX frame SS type 20, 4 bytes: "K64E"
//
// Thread contract: user-interface thread only (the worker's calls all come from there).
#pragma once

#include "ui/port_worker.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace orvane::app {

class PortTrace {
public:
    // Writes to `out` (not owned, flushed after every entry so a crash loses nothing). The first
    // entry that cannot be written (a full disk) is said once on `err`, naming `name`; the
    // trace then stops and the update goes on without it.
    explicit PortTrace(std::FILE* out, std::string name = {}, std::FILE* err = nullptr);

    // Why the trace stopped ("No space left on device"), or "" while it is whole.
    const std::string& Failure() const { return m_failure; }

    void Note(const std::string& text);
    void Sent(const std::uint8_t* bytes, int length);
    void Received(const std::uint8_t* bytes, int length);

    // "SS type 20, 4 bytes: "K64E"" for a whole frame at the start of `bytes`, or empty.
    static std::string DescribeFrame(const std::uint8_t* bytes, std::size_t length,
                                     std::size_t* frameLength);

private:
    void Line(const char* direction, const std::string& text);

    std::FILE* m_out;
    std::string m_name;
    std::FILE* m_err;
    std::string m_failure;
    std::chrono::steady_clock::time_point m_start;
    // Received bytes not yet part of a whole frame; bounded, since a line may send anything.
    std::string m_pending;
};

// What went over the line so far, for the status line while the receiver does not answer.
struct LineCounts {
    std::uint64_t handshakes = 0; // handshake frames written
};

// Opens through `inner`; the opened worker traces everything it writes, reads and is told
// (when `trace` is set) and counts what it writes (when `counts` is set).
ui::PortOpener ObservingOpener(ui::PortOpener inner, std::shared_ptr<PortTrace> trace,
                               std::shared_ptr<LineCounts> counts);

} // namespace orvane::app
