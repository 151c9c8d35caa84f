// Station mode: several receivers updated at once, each by its own updater process, with a
// progress line per receiver, a summary table and a JSON report per receiver.
//
// The station keeps its word: it checks that it can write its reports before any receiver is
// touched; a port given twice is updated once; report names never collide; on SIGINT, SIGTERM
// or SIGHUP it stops every receiver's process and still prints the table and writes the
// reports; the processes end with the station even when it is killed; and the table shows
// what each receiver's process reported, whether or not its report could be written.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvane::app {

struct StationJob {
    std::string label;             // what the table shows: "COM3", "/dev/ttyUSB0", "sim K64E"
    std::vector<std::string> args; // the single-receiver arguments of this job's updater process
    // The device behind the port (a canonical path), so one device given twice is updated
    // once; empty for a job of its own (a simulated receiver).
    std::string device;
};

struct StationOptions {
    std::string program;                 // the updater to start for every job (this executable)
    std::vector<std::string> commonArgs; // added to every job (timeout, pacing)
    std::string reportDir;               // one <label>.json per receiver goes here
    std::string firmware;                // what every receiver gets, for the summary
    std::string resultFile; // every receiver's result in one JSON document; empty: none
    bool trace = false;     // each receiver's line traced to <report>.trace beside its report
    // --repeat on every port: a line of receivers each, one record per receiver
    // (<label>-receiver-001.json, ...) besides the port's <label>.json with all of them.
    bool repeat = false;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // After a stop, how long a receiver's process may take to end by itself (it needs well
    // under a second) before it is killed.
    int stopGraceMs = 3000;
};

// The jobs with each device once, in the order given; `notes` gets a line for every job left
// out.
std::vector<StationJob> UniqueJobs(const std::vector<StationJob>& jobs,
                                   std::vector<std::string>* notes);

// A report file name for every job: its label with every character but the ASCII letters and
// digits replaced by "_", and "-2", "-3"... added where two would otherwise be the same (letter
// case ignored, for file systems that ignore it).
std::vector<std::string> ReportNames(const std::vector<StationJob>& jobs);

// Runs every job at once and waits for all. Returns 0 when every receiver completed, else
// the highest exit code of a failed one; 5 when a report could not be written (or cannot be
// before the start: then no receiver is touched); 128 + the signal's number when stopped by
// a signal. Call it on the main thread: the receivers' processes end when it ends.
int RunStation(const std::vector<StationJob>& jobs, const StationOptions& options);

} // namespace orvane::app
