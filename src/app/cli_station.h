// Station mode: several receivers updated at once, each by its own updater process, with a
// progress line per receiver, a summary table and a JSON report per receiver.
//
// The station keeps its word: it checks that it can write its reports before any receiver is
// touched; a port given twice is updated once; report names never collide; on SIGINT, SIGTERM
// or SIGHUP it stops every receiver's process and still prints the table and writes the
// reports; the processes end with the station even when it is killed; and the table shows
// what each receiver's process reported, whether or not its report could be written.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

namespace orvane::app {

struct StationJob {
    QString label;    // what the table shows: "COM3", "/dev/ttyUSB0", "sim K64E"
    QStringList args; // the single-receiver arguments of this job's updater process
    // The device behind the port (a canonical path), so one device given twice is updated
    // once; empty for a job of its own (a simulated receiver).
    QString device;
};

struct StationOptions {
    QString program;        // the updater to start for every job (this executable)
    QStringList commonArgs; // added to every job (timeout, pacing)
    QString reportDir;      // one <label>.json per receiver goes here
    QString firmware;       // what every receiver gets, for the summary
    QString resultFile;     // every receiver's result in one JSON document; empty: none
    bool trace = false;     // each receiver's line traced to <report>.trace beside its report
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // After a stop, how long a receiver's process may take to end by itself (it needs well
    // under a second) before it is killed.
    int stopGraceMs = 3000;
};

// The jobs with each device once, in the order given; `notes` gets a line for every job left
// out.
std::vector<StationJob> UniqueJobs(const std::vector<StationJob>& jobs, QStringList* notes);

// A report file name for every job: its label with every character but letters and digits
// replaced by "_", and "-2", "-3"... added where two would otherwise be the same (letter case
// ignored, for file systems that ignore it).
QStringList ReportNames(const std::vector<StationJob>& jobs);

// Runs every job at once and waits for all. Returns 0 when every receiver completed, else
// the highest exit code of a failed one; 5 when a report could not be written (or cannot be
// before the start: then no receiver is touched); 128 + the signal's number when stopped by
// a signal. Needs a QCoreApplication.
int RunStation(const std::vector<StationJob>& jobs, const StationOptions& options);

} // namespace orvane::app
