// Station mode: several receivers updated at once, each by its own updater process, with a
// progress line per receiver, a summary table and a JSON report per receiver.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

namespace orvane::app {

struct StationJob {
    QString label;    // what the table shows: "COM3", "/dev/ttyUSB0", "sim K64E"
    QStringList args; // the single-receiver arguments of this job's updater process
};

struct StationOptions {
    QString program;        // the updater to start for every job (this executable)
    QStringList commonArgs; // added to every job (timeout, pacing)
    QString reportDir;      // one <label>.json per receiver goes here
    QString firmware;       // what every receiver gets, for the summary
    std::FILE* out = stdout;
};

// Runs every job at once and waits for all. Returns 0 when every receiver completed, else
// the highest exit code of a failed one. Needs a QCoreApplication.
int RunStation(const std::vector<StationJob>& jobs, const StationOptions& options);

} // namespace orvane::app
