#include "app/cli_station.h"

#include "app/cli_runner.h"
#include "platform/stop_request.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace orvane::app {

namespace {

struct Receiver {
    StationJob job;
    QString reportFile;
    std::unique_ptr<QProcess> process;
    QByteArray pending; // a partial output line
    QString lastLine;
    long long pos = 0, upper = 0, blocks = 0;
    bool finished = false;
    int exitCode = -1;
    QJsonObject result;  // what the receiver's process reported, or what we know of it
    QString reportError; // why its report could not be written; empty when it was
};

QString SafeName(QString label) {
    for (auto& c : label)
        if (!c.isLetterOrNumber())
            c = u'_';
    return label;
}

// Text from a receiver's process (its identifier, its reasons) or from the command line,
// for the terminal: control characters escaped.
std::string Safe(const QString& text) {
    return TerminalText(text.toStdU16String());
}

QString StatusText(const Receiver& r) {
    if (r.finished) {
        const QString outcome = r.result.value("result").toString();
        return outcome.isEmpty() ? QStringLiteral("exit %1").arg(r.exitCode) : outcome;
    }
    if (r.upper > 0)
        return QStringLiteral("%1%  %2 blocks")
            .arg(100.0 * static_cast<double>(r.pos) / static_cast<double>(r.upper), 5, 'f', 1)
            .arg(r.blocks);
    return r.lastLine.isEmpty() ? QStringLiteral("starting") : r.lastLine;
}

// Whether files can be created in the folder (made first when missing); the reason if not.
bool CanWriteIn(const QString& dir, QString* why) {
    const QFileInfo info(dir);
    if (info.exists() && !info.isDir()) {
        *why = QStringLiteral("it is not a folder");
        return false;
    }
    if (!QDir().mkpath(dir)) {
        *why = QStringLiteral("the folder cannot be made");
        return false;
    }
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".station-probe-XXXXXX")));
    if (!probe.open()) {
        *why = probe.errorString();
        return false;
    }
    return true;
}

bool WriteJson(const QString& path, const QJsonDocument& doc, QString* why) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(doc.toJson()) < 0 || !file.commit()) {
        *why = file.errorString();
        return false;
    }
    return true;
}

} // namespace

std::vector<StationJob> UniqueJobs(const std::vector<StationJob>& jobs, QStringList* notes) {
    std::vector<StationJob> unique;
    for (const StationJob& job : jobs) {
        const auto same = std::find_if(unique.begin(), unique.end(), [&](const StationJob& u) {
            return !job.device.isEmpty() && u.device == job.device;
        });
        if (same == unique.end()) {
            unique.push_back(job);
        } else if (notes) {
            *notes << (same->label == job.label
                           ? QStringLiteral("%1 is given twice; it is updated once.").arg(job.label)
                           : QStringLiteral("%1 is the same port as %2; it is updated once.")
                                 .arg(job.label, same->label));
        }
    }
    return unique;
}

QStringList ReportNames(const std::vector<StationJob>& jobs) {
    QStringList names;
    QSet<QString> taken;
    for (const StationJob& job : jobs) {
        const QString base = SafeName(job.label);
        QString name = base;
        for (int n = 2; taken.contains(name.toLower()); ++n)
            name = QStringLiteral("%1-%2").arg(base).arg(n);
        taken.insert(name.toLower());
        names << name + QStringLiteral(".json");
    }
    return names;
}

int RunStation(const std::vector<StationJob>& allJobs, const StationOptions& options) {
    QStringList notes;
    const std::vector<StationJob> jobs = UniqueJobs(allJobs, &notes);
    for (const QString& note : notes)
        std::fprintf(options.out, "Note: %s\n", Safe(note).c_str());

    // Every record is promised before the first receiver is touched.
    if (QString why; !CanWriteIn(options.reportDir, &why)) {
        std::fprintf(options.err, "error: cannot write the reports to %s: %s\n",
                     Safe(options.reportDir).c_str(), Safe(why).c_str());
        return kExitReportLost;
    }

    const bool terminal = ::isatty(::fileno(options.out)) != 0;
    std::vector<Receiver> receivers(jobs.size());
    std::size_t running = jobs.size();
    int drawnLines = 0;
    bool stopping = false;

    const auto draw = [&] {
        if (!terminal)
            return;
        if (drawnLines > 0)
            std::fprintf(options.out, "\033[%dA", drawnLines);
        for (const Receiver& r : receivers)
            std::fprintf(options.out, "\r\033[K%-22s %s\n", Safe(r.job.label).c_str(),
                         Safe(StatusText(r)).c_str());
        drawnLines = static_cast<int>(receivers.size());
        std::fflush(options.out);
    };

    const auto finishReceiver = [&](Receiver& r, int exitCode, const QString& failure) {
        if (r.finished)
            return;
        r.finished = true;
        r.exitCode = exitCode;
        if (r.result.isEmpty()) {
            // The process said nothing of its result (killed, crashed, could not start):
            // keep what we saw of it.
            QString reason = failure.trimmed();
            if (reason.isEmpty() && r.process)
                reason = QString::fromUtf8(r.process->readAllStandardError()).trimmed();
            r.result = {{"port", r.job.label},
                        {"result", stopping ? "stopped" : "failed"},
                        {"blocks", r.blocks},
                        {"exitCode", r.exitCode},
                        {"reason", reason}};
        } else if (r.result.contains("exitCode")) {
            // The receiver's own outcome; a process code of 5 only says its own report file
            // failed, which the station's copy below makes good.
            r.exitCode = r.result.value("exitCode").toInt(r.exitCode);
        }
        if (!terminal)
            std::fprintf(options.out, "%s: %s\n", Safe(r.job.label).c_str(),
                         Safe(StatusText(r)).c_str());
        draw();
        if (--running == 0)
            QCoreApplication::exit(0);
    };

    const QStringList names = ReportNames(jobs);
#ifdef __linux__
    const pid_t station = ::getpid();
#endif
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Receiver& r = receivers[i];
        r.job = jobs[i];
        r.reportFile = QDir(options.reportDir).filePath(names[static_cast<qsizetype>(i)]);
        r.process = std::make_unique<QProcess>();
        QProcess* p = r.process.get();
        p->setProcessChannelMode(QProcess::SeparateChannels);
#ifdef __linux__
        // Between fork and exec: the child is told SIGTERM when the station dies, however it
        // dies, and a station already gone (killed in between) takes its child with it.
        p->setChildProcessModifier([station] {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != station)
                ::_exit(kExitSignalBase + SIGTERM);
        });
#endif
        QObject::connect(p, &QProcess::readyReadStandardOutput, [&r, p, &draw] {
            r.pending += p->readAllStandardOutput();
            qsizetype nl;
            while ((nl = r.pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(r.pending.left(nl));
                r.pending.remove(0, nl + 1);
                if (line.startsWith("progress ")) {
                    const QStringList f = line.split(' ');
                    if (f.size() == 4) {
                        r.pos = f[1].toLongLong();
                        r.upper = f[2].toLongLong();
                        r.blocks = f[3].toLongLong();
                    }
                } else if (line.startsWith("line ")) {
                    r.lastLine = line.mid(5);
                } else if (line.startsWith("result ")) {
                    r.result = QJsonDocument::fromJson(line.mid(7).toUtf8()).object();
                }
            }
            draw();
        });
        QObject::connect(p, &QProcess::finished,
                         [&r, &finishReceiver](int code, QProcess::ExitStatus status) {
                             finishReceiver(r, status == QProcess::NormalExit ? code : 1, {});
                         });
        QObject::connect(
            p, &QProcess::errorOccurred, [&r, p, &finishReceiver](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    finishReceiver(r, 1, "cannot start " + p->program() + ": " + p->errorString());
            });
        QStringList args = r.job.args + options.commonArgs;
        args << "--machine"
             << "--result-json" << r.reportFile;
        if (options.trace) {
            // One trace per receiver, beside its report: "COM3.json", "COM3.trace".
            QString trace = r.reportFile;
            if (trace.endsWith(QStringLiteral(".json")))
                trace.chop(5);
            trace += QStringLiteral(".trace");
            args << "--trace" << trace;
        }
        p->start(options.program, args);
    }

    // A signal to the station stops every receiver's process; each ends by itself within a
    // second, saying where it stood, and is killed if it has not after the grace time.
    QTimer stopWatch;
    stopWatch.setInterval(50);
    QObject::connect(&stopWatch, &QTimer::timeout, [&] {
        if (stopping || !StopRequested())
            return;
        stopping = true;
        for (Receiver& r : receivers)
            if (!r.finished && r.process->state() != QProcess::NotRunning)
                r.process->terminate();
        QTimer::singleShot(options.stopGraceMs, [&] {
            for (Receiver& r : receivers)
                if (!r.finished && r.process->state() != QProcess::NotRunning)
                    r.process->kill();
        });
    });
    stopWatch.start();
    draw();
    if (running > 0)
        QCoreApplication::exec();
    stopWatch.stop();

    // The station's copy of every report, from what each process said; the table below
    // tells the truth whether or not it could be written.
    int lost = 0;
    QJsonArray all;
    for (Receiver& r : receivers) {
        QString why;
        if (!WriteJson(r.reportFile, QJsonDocument(r.result), &why)) {
            r.reportError = why;
            ++lost;
        }
        all.append(r.result);
    }
    if (!options.resultFile.isEmpty()) {
        if (QString why;
            !WriteJson(options.resultFile, QJsonDocument(QJsonObject{{"receivers", all}}), &why)) {
            std::fprintf(options.err, "error: cannot write %s: %s\n",
                         Safe(options.resultFile).c_str(), Safe(why).c_str());
            ++lost;
        }
    }

    if (!options.firmware.isEmpty())
        std::fprintf(options.out, "\nFirmware: %s", qPrintable(options.firmware));
    if (stopping)
        std::fprintf(options.out, "\nStopped by %s. Where each receiver stood:\n",
                     SignalName(StopSignal()));
    std::fprintf(options.out, "\n%-22s %-10s %-26s %8s %9s  %s\n", "receiver", "identifier",
                 "image", "blocks", "seconds", "result");
    int worst = 0;
    for (const Receiver& r : receivers) {
        const QJsonObject& j = r.result;
        std::string outcome = Safe(j.value("result").toString());
        if (r.exitCode != 0)
            outcome += ": " + Safe(j.value("reason").toString());
        if (!r.reportError.isEmpty())
            outcome += " [report NOT written: " + Safe(r.reportError) + "]";
        std::fprintf(options.out, "%-22s %-10s %-26s %8lld %9.1f  %s\n", Safe(r.job.label).c_str(),
                     Safe(j.value("identifier").toString()).c_str(),
                     Safe(j.value("image").toString()).c_str(),
                     static_cast<long long>(j.value("blocks").toDouble()),
                     j.value("seconds").toDouble(), outcome.c_str());
        worst = std::max(worst, r.exitCode);
    }
    std::fprintf(options.out, "Reports: %s\n",
                 Safe(QDir(options.reportDir).absolutePath()).c_str());
    std::fflush(options.out);
    if (lost > 0) {
        std::fprintf(options.err,
                     "error: %d report%s could not be written; the table above is the record\n",
                     lost, lost == 1 ? "" : "s");
        worst = std::max(worst, static_cast<int>(kExitReportLost));
    }
    if (stopping)
        return kExitSignalBase + std::max(StopSignal(), 0);
    return worst;
}

} // namespace orvane::app
