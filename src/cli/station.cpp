#include "cli/station.h"

#include "cli/runner.h"
#include "platform/child_process.h"
#include "platform/console.h"
#include "platform/stop_request.h"
#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <system_error>

namespace orvane::app {

namespace {

namespace fs = std::filesystem;
// Ordered: a receiver's record keeps the order its updater process wrote its keys in, so that
// a station's copy reads side by side with a single run's.
using json = nlohmann::ordered_json;

// Most bytes kept of a receiver process's unfinished output line and of its errors.
constexpr std::size_t kMaxKept = 1 << 20;

struct Receiver {
    StationJob job;
    std::string reportFile;
    ChildProcess process;
    std::string pending; // a partial output line
    std::string errors;  // what the process wrote to its standard error
    std::string lastLine;
    long long pos = 0, upper = 0, blocks = 0;
    bool finished = false;
    int exitCode = -1;
    json result = json::object(); // what the receiver's process reported, or what we know of it
    std::vector<json> records;    // --repeat: every receiver of the port's line, in turn
    std::string reportError;      // why its report could not be written; empty when it was
};

std::string SafeName(const std::string& label) {
    std::u16string name = FromUtf8(label);
    for (char16_t& c : name) {
        const bool letterOrDigit =
            (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        if (!letterOrDigit)
            c = u'_';
    }
    return ToUtf8(name);
}

// Text from a receiver's process (its identifier, its reasons) or from the command line,
// for the terminal: control characters escaped, and bytes that are no UTF-8 shown as \xHH.
std::string Safe(const std::string& text) {
    return EscapeControlsUtf8(text);
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n\f\v");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n\f\v");
    return text.substr(first, last - first + 1);
}

// A receiver's process reports what it likes: a field of another type reads as missing.
std::string StringField(const json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double NumberField(const json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number() ? it->get<double>() : 0.0;
}

int IntField(const json& j, const char* key, int otherwise) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number())
        return otherwise;
    const double value = it->get<double>();
    if (value != static_cast<double>(static_cast<long long>(value)) || value < -2147483648.0 ||
        value > 2147483647.0)
        return otherwise;
    return static_cast<int>(value);
}

long long Number(const std::string& text) {
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size() ? value : 0;
}

// Where a receiver's transfer stands, from its process's progress and message lines.
std::string ProgressText(const Receiver& r) {
    if (r.upper > 0)
        return FormatAnsi("%5.1f%%  %lld blocks",
                          100.0 * static_cast<double>(r.pos) / static_cast<double>(r.upper),
                          r.blocks);
    return r.lastLine.empty() ? std::string("starting") : r.lastLine;
}

// A port's line of receivers: how many each way so far, and where the one on it stands.
std::string LineStatus(const Receiver& r) {
    int done = 0;
    for (const json& record : r.records)
        done += IntField(record, "exitCode", -1) == kExitComplete ? 1 : 0;
    const std::string tally =
        FormatAnsi("%d done, %d failed", done, static_cast<int>(r.records.size()) - done);
    if (r.finished)
        return tally + "; exit " + std::to_string(r.exitCode);
    return tally + "; " + ProgressText(r);
}

std::string StatusText(const Receiver& r, bool repeat) {
    if (repeat)
        return LineStatus(r);
    if (r.finished) {
        const std::string outcome = StringField(r.result, "result");
        return outcome.empty() ? "exit " + std::to_string(r.exitCode) : outcome;
    }
    return ProgressText(r);
}

// A name no other file in the folder is likely to have.
std::string UniqueSuffix() {
    static std::mt19937_64 random{std::random_device{}()};
    return std::to_string(random());
}

// Whether files can be created in the folder (made first when missing); the reason if not.
bool CanWriteIn(const std::string& dir, std::string* why) {
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
        *why = "it is not a folder";
        return false;
    }
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        *why = "the folder cannot be made";
        return false;
    }
    const fs::path probe = PathFromUtf8(dir) / (".station-probe-" + UniqueSuffix());
    std::FILE* file = OpenFile(PathToUtf8(probe), "wb");
    if (!file) {
        *why = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    fs::remove(probe, ec);
    return true;
}

// Writes the document whole or not at all: into a new file beside `path`, which then takes
// its name, so a reader never sees half a report and a failure keeps the old one.
bool WriteJson(const std::string& path, const json& doc, std::string* why) {
    const std::string text = doc.dump(4, ' ', false, json::error_handler_t::replace) + "\n";
    std::error_code ec;
    // A link is kept: the file it leads to takes the new text, with the mode it had.
    fs::path target = PathFromUtf8(path);
    if (fs::is_symlink(target, ec)) {
        if (fs::path resolved = fs::canonical(target, ec); !ec)
            target = resolved;
    }
    const fs::path temporary =
        target.parent_path() / ("." + target.filename().string() + "." + UniqueSuffix() + ".tmp");
    std::FILE* file = OpenFile(PathToUtf8(temporary), "wb");
    if (!file) {
        *why = std::strerror(errno);
        return false;
    }
    int error = WriteAndClose(file, text);
    if (const fs::file_status old = fs::status(target, ec); !ec && fs::is_regular_file(old))
        fs::permissions(temporary, old.permissions(), ec);
    if (error == 0) {
        fs::rename(temporary, target, ec);
        if (!ec)
            return true;
        *why = ec.message();
    } else {
        *why = std::strerror(error);
    }
    fs::remove(temporary, ec);
    return false;
}

} // namespace

std::vector<StationJob> UniqueJobs(const std::vector<StationJob>& jobs,
                                   std::vector<std::string>* notes) {
    std::vector<StationJob> unique;
    for (const StationJob& job : jobs) {
        const auto same = std::find_if(unique.begin(), unique.end(), [&](const StationJob& u) {
            return !job.device.empty() && u.device == job.device;
        });
        if (same == unique.end()) {
            unique.push_back(job);
        } else if (notes) {
            notes->push_back(same->label == job.label
                                 ? job.label + " is given twice; it is updated once."
                                 : job.label + " is the same port as " + same->label +
                                       "; it is updated once.");
        }
    }
    return unique;
}

std::vector<std::string> ReportNames(const std::vector<StationJob>& jobs) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const StationJob& job : jobs) {
        const std::string base = SafeName(job.label);
        std::string name = base;
        for (int n = 2; taken.count(AsciiLower(name)) > 0; ++n)
            name = base + "-" + std::to_string(n);
        taken.insert(AsciiLower(name));
        names.push_back(name + ".json");
    }
    return names;
}

namespace {

// One run of station mode: a process per receiver, read as it goes, a live table on a
// terminal (a line per receiver elsewhere), and the reports and the summary at the end.
class Station {
public:
    Station(const std::vector<StationJob>& jobs, const StationOptions& options)
        : m_jobs(jobs), m_options(options), m_terminal(IsTerminal(options.out)),
          m_receivers(jobs.size()), m_running(jobs.size()) {}

    // Runs every receiver's process to its end; the exit code RunStation promises.
    int Run() {
        StartAll();
        WaitForAll();
        const int lost = WriteReports();
        return PrintSummary(lost);
    }

private:
    void Draw();
    void Finish(Receiver& r, int exitCode, const std::string& failure);
    bool ReadOutput(Receiver& r) const;
    int WriteLineReports(Receiver& r, json& all);
    int PrintLineSummary();
    void StartAll();
    void WaitForAll();
    int WriteReports();
    int PrintSummary(int lost);

    const std::vector<StationJob>& m_jobs;
    const StationOptions& m_options;
    const bool m_terminal;
    std::vector<Receiver> m_receivers;
    std::size_t m_running;
    int m_drawnLines = 0;
    bool m_stopping = false;
};

// On a terminal: every receiver's line again, over the ones drawn before.
void Station::Draw() {
    if (!m_terminal)
        return;
    if (m_drawnLines > 0)
        std::fprintf(m_options.out, "\033[%dA", m_drawnLines);
    for (const Receiver& r : m_receivers)
        std::fprintf(m_options.out, "\r\033[K%-22s %s\n", Safe(r.job.label).c_str(),
                     Safe(StatusText(r, m_options.repeat)).c_str());
    m_drawnLines = static_cast<int>(m_receivers.size());
    std::fflush(m_options.out);
}

void Station::Finish(Receiver& r, int exitCode, const std::string& failure) {
    if (r.finished)
        return;
    r.finished = true;
    r.exitCode = exitCode;
    // A line's process tells every receiver's outcome as it ends; its own exit code is the
    // worst of them. One it did not tell (killed, crashed, could not start) is kept as seen.
    const bool told = m_options.repeat &&
                      (exitCode == kExitComplete ||
                       std::any_of(r.records.begin(), r.records.end(), [&](const json& record) {
                           return IntField(record, "exitCode", -1) == exitCode;
                       }));
    if (m_options.repeat && !told)
        r.result = json::object();
    if (!told && r.result.empty()) {
        // The process said nothing of its result (killed, crashed, could not start):
        // keep what we saw of it.
        std::string reason = Trimmed(failure);
        if (reason.empty())
            reason = Trimmed(r.errors);
        r.result = {{"port", r.job.label},
                    {"blocks", r.blocks},
                    {"result", m_stopping ? "stopped" : "failed"},
                    {"exitCode", r.exitCode},
                    {"reason", reason}};
        if (m_options.repeat)
            r.records.push_back(r.result);
    } else if (!told && r.result.contains("exitCode")) {
        // The receiver's own outcome; a process code of 5 only says its own report file
        // failed, which the station's copy below makes good.
        r.exitCode = IntField(r.result, "exitCode", r.exitCode);
    }
    if (!m_terminal)
        std::fprintf(m_options.out, "%s: %s\n", Safe(r.job.label).c_str(),
                     Safe(StatusText(r, m_options.repeat)).c_str());
    Draw();
    --m_running;
}

// Takes the complete lines the process has written: "progress POS UPPER BLOCKS",
// "line TEXT" and "result JSON".
bool Station::ReadOutput(Receiver& r) const {
    r.process.ReadOutput(r.pending);
    // Its errors are kept for the table; a process that writes without end cannot make
    // the station hold it all.
    std::string errors;
    r.process.ReadErrors(errors);
    r.errors.append(errors, 0, kMaxKept - std::min(kMaxKept, r.errors.size()));
    bool changed = false;
    std::size_t nl;
    while ((nl = r.pending.find('\n')) != std::string::npos) {
        // A Windows updater ends its lines with CR LF.
        std::string line = r.pending.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        r.pending.erase(0, nl + 1);
        changed = true;
        if (line.rfind("progress ", 0) == 0) {
            std::vector<std::string> f;
            for (std::size_t at = 0, blank; at <= line.size(); at = blank + 1) {
                blank = std::min(line.find(' ', at), line.size());
                f.push_back(line.substr(at, blank - at));
            }
            if (f.size() == 4) {
                r.pos = Number(f[1]);
                r.upper = Number(f[2]);
                r.blocks = Number(f[3]);
            }
        } else if (line.rfind("line ", 0) == 0) {
            r.lastLine = line.substr(5);
        } else if (line.rfind("result ", 0) == 0) {
            json result = json::parse(line.substr(7), nullptr, /*allow_exceptions=*/false);
            r.result = result.is_object() ? std::move(result) : json::object();
            if (m_options.repeat) {
                // One receiver of the line is done; the next one starts from nothing.
                r.records.push_back(r.result);
                r.pos = r.upper = r.blocks = 0;
                r.lastLine.clear();
                if (!m_terminal) {
                    std::fprintf(m_options.out, "%s: receiver %zu: %s\n", Safe(r.job.label).c_str(),
                                 r.records.size(), Safe(StringField(r.result, "result")).c_str());
                    std::fflush(m_options.out);
                }
            }
        }
    }
    if (r.pending.size() > kMaxKept)
        r.pending.clear(); // no line the station reads is that long
    return changed;
}

// Starts an updater process per receiver, machine-readable, with its report (and trace) file.
void Station::StartAll() {
    const std::vector<std::string> names = ReportNames(m_jobs);
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        Receiver& r = m_receivers[i];
        r.job = m_jobs[i];
        r.reportFile = (fs::path(m_options.reportDir) / names[i]).string();
        std::vector<std::string> args = r.job.args;
        args.insert(args.end(), m_options.commonArgs.begin(), m_options.commonArgs.end());
        args.insert(args.end(), {"--machine", "--result-json", r.reportFile});
        if (m_options.trace) {
            // One trace per receiver, beside its report: "COM3.json", "COM3.trace".
            std::string trace = r.reportFile;
            if (trace.size() >= 5 && trace.compare(trace.size() - 5, 5, ".json") == 0)
                trace.resize(trace.size() - 5);
            args.insert(args.end(), {"--trace", trace + ".trace"});
        }
        if (std::string error; !r.process.Start(m_options.program, args, &error))
            Finish(r, 1, "cannot start " + m_options.program + ": " + error);
    }
}

// A signal to the station stops every receiver's process; each ends by itself within a
// second, saying where it stood, and is killed if it has not after the grace time.
void Station::WaitForAll() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point killAt;
    bool killed = false;
    std::vector<ChildProcess*> children;
    children.reserve(m_receivers.size());
    for (Receiver& r : m_receivers)
        children.push_back(&r.process);
    Draw();
    while (m_running > 0) {
        WaitForChildren(children, 50);
        bool changed = false;
        for (Receiver& r : m_receivers) {
            if (r.finished)
                continue;
            changed = ReadOutput(r) || changed;
            if (ChildExit end; r.process.TryWait(&end)) {
                // What it wrote before it ended is all in the pipe now.
                ReadOutput(r);
                Finish(r, end.normal ? end.code : 1, {});
            }
        }
        if (changed)
            Draw();
        if (!m_stopping && StopRequested()) {
            m_stopping = true;
            for (Receiver& r : m_receivers)
                if (!r.finished)
                    r.process.Terminate();
            killAt = Clock::now() + std::chrono::milliseconds(m_options.stopGraceMs);
        }
        if (m_stopping && !killed && Clock::now() >= killAt) {
            killed = true;
            for (Receiver& r : m_receivers)
                if (!r.finished)
                    r.process.Kill();
        }
    }
}

// The station's copy of every report, from what each process said; the table tells the
// truth whether or not it could be written. Returns how many files were lost.
int Station::WriteReports() {
    int lost = 0;
    json all = json::array();
    for (Receiver& r : m_receivers) {
        if (m_options.repeat) {
            lost += WriteLineReports(r, all);
            continue;
        }
        std::string why;
        if (!WriteJson(r.reportFile, r.result, &why)) {
            r.reportError = why;
            ++lost;
        }
        all.push_back(r.result);
    }
    if (!m_options.resultFile.empty()) {
        if (std::string why; !WriteJson(m_options.resultFile, json{{"receivers", all}}, &why)) {
            std::fprintf(m_options.err, "error: cannot write %s: %s\n",
                         Safe(m_options.resultFile).c_str(), Safe(why).c_str());
            ++lost;
        }
    }
    return lost;
}

// A port's line: a record per receiver, numbered, and the port's file with all of them.
int Station::WriteLineReports(Receiver& r, json& all) {
    int lost = 0;
    std::string base = r.reportFile;
    if (base.size() >= 5 && base.compare(base.size() - 5, 5, ".json") == 0)
        base.resize(base.size() - 5);
    for (std::size_t n = 0; n < r.records.size(); ++n) {
        const std::string file = base + FormatAnsi("-receiver-%03zu.json", n + 1);
        if (std::string why; !WriteJson(file, r.records[n], &why)) {
            r.reportError = why;
            ++lost;
        }
        all.push_back(r.records[n]);
    }
    if (std::string why; !WriteJson(r.reportFile, json(r.records), &why)) {
        r.reportError = why;
        ++lost;
    }
    return lost;
}

// --repeat: a row per receiver of every line, the tally of them all, and the exit code the
// lines' processes gave (each ends with 0 when stopped between receivers that all completed).
int Station::PrintLineSummary() {
    std::vector<ReceiverTally> tally;
    int worst = 0;
    for (const Receiver& r : m_receivers) {
        for (std::size_t n = 0; n < r.records.size(); ++n) {
            const json& j = r.records[n];
            const int code = IntField(j, "exitCode", r.exitCode);
            std::string outcome = Safe(StringField(j, "result"));
            if (code != 0)
                outcome += ": " + Safe(StringField(j, "reason"));
            const std::string label = FormatAnsi("%s #%zu", r.job.label.c_str(), n + 1);
            std::fprintf(m_options.out, "%-22s %-10s %-26s %8lld %9.1f  %s\n", Safe(label).c_str(),
                         Safe(StringField(j, "identifier")).c_str(),
                         Safe(StringField(j, "image")).c_str(),
                         static_cast<long long>(NumberField(j, "blocks")),
                         NumberField(j, "seconds"), outcome.c_str());
            tally.push_back({StringField(j, "identifier"), code});
        }
        if (!r.reportError.empty())
            std::fprintf(m_options.out, "%-22s [report NOT written: %s]\n",
                         Safe(r.job.label).c_str(), Safe(r.reportError).c_str());
        worst = std::max(worst, r.exitCode);
    }
    std::fprintf(m_options.out, "%s\n", Safe(LineSummary(tally)).c_str());
    return worst;
}

// The summary table and where the reports are; the station's exit code.
int Station::PrintSummary(int lost) {
    if (!m_options.firmware.empty())
        std::fprintf(m_options.out, "\nFirmware: %s", Safe(m_options.firmware).c_str());
    if (m_stopping)
        std::fprintf(m_options.out, "\nStopped by %s. Where each receiver stood:\n",
                     SignalName(StopSignal()));
    std::fprintf(m_options.out, "\n%-22s %-10s %-26s %8s %9s  %s\n", "receiver", "identifier",
                 "image", "blocks", "seconds", "result");
    int worst = 0;
    for (const Receiver& r : m_receivers) {
        if (m_options.repeat)
            break;
        const json& j = r.result;
        std::string outcome = Safe(StringField(j, "result"));
        if (r.exitCode != 0)
            outcome += ": " + Safe(StringField(j, "reason"));
        if (!r.reportError.empty())
            outcome += " [report NOT written: " + Safe(r.reportError) + "]";
        std::fprintf(m_options.out, "%-22s %-10s %-26s %8lld %9.1f  %s\n",
                     Safe(r.job.label).c_str(), Safe(StringField(j, "identifier")).c_str(),
                     Safe(StringField(j, "image")).c_str(),
                     static_cast<long long>(NumberField(j, "blocks")), NumberField(j, "seconds"),
                     outcome.c_str());
        worst = std::max(worst, r.exitCode);
    }
    if (m_options.repeat)
        worst = PrintLineSummary();
    std::error_code ec;
    fs::path reports = fs::absolute(m_options.reportDir, ec).lexically_normal();
    if (!reports.has_filename() && reports.has_relative_path())
        reports = reports.parent_path(); // "reports/" as "reports"
    std::fprintf(m_options.out, "Reports: %s\n", Safe(reports.string()).c_str());
    std::fflush(m_options.out);
    if (lost > 0) {
        std::fprintf(m_options.err,
                     "error: %d report%s could not be written; the table above is the record\n",
                     lost, lost == 1 ? "" : "s");
        worst = std::max(worst, static_cast<int>(kExitReportLost));
    }
    // A line of receivers ends with a signal: how it ended is each line's process's to say.
    if (m_stopping && !m_options.repeat)
        return StopExitCode(StopSignal());
    return worst;
}

} // namespace

int RunStation(const std::vector<StationJob>& allJobs, const StationOptions& options) {
    std::vector<std::string> notes;
    const std::vector<StationJob> jobs = UniqueJobs(allJobs, &notes);
    for (const std::string& note : notes)
        std::fprintf(options.out, "Note: %s\n", Safe(note).c_str());

    // Every record is promised before the first receiver is touched.
    if (std::string why; !CanWriteIn(options.reportDir, &why)) {
        std::fprintf(options.err, "error: cannot write the reports to %s: %s\n",
                     Safe(options.reportDir).c_str(), Safe(why).c_str());
        return kExitReportLost;
    }
    Station station(jobs, options);
    return station.Run();
}

} // namespace orvane::app
