#include "app/cli_station.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <unistd.h>

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
    QJsonObject result;
};

QString SafeName(QString label) {
    for (auto& c : label)
        if (!c.isLetterOrNumber())
            c = u'_';
    return label;
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

} // namespace

int RunStation(const std::vector<StationJob>& jobs, const StationOptions& options) {
    QDir().mkpath(options.reportDir);
    const bool terminal = ::isatty(::fileno(options.out)) != 0;
    std::vector<Receiver> receivers(jobs.size());
    QElapsedTimer clock;
    clock.start();
    std::size_t running = jobs.size();
    int drawnLines = 0;

    const auto draw = [&] {
        if (!terminal)
            return;
        if (drawnLines > 0)
            std::fprintf(options.out, "\033[%dA", drawnLines);
        for (const Receiver& r : receivers)
            std::fprintf(options.out, "\r\033[K%-22s %s\n", qPrintable(r.job.label),
                         qPrintable(StatusText(r)));
        drawnLines = static_cast<int>(receivers.size());
        std::fflush(options.out);
    };

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Receiver& r = receivers[i];
        r.job = jobs[i];
        r.reportFile = QDir(options.reportDir).filePath(SafeName(r.job.label) + ".json");
        r.process = std::make_unique<QProcess>();
        QProcess* p = r.process.get();
        p->setProcessChannelMode(QProcess::SeparateChannels);
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
                }
            }
            draw();
        });
        QObject::connect(p, &QProcess::finished, [&, p, i](int code, QProcess::ExitStatus status) {
            Receiver& rr = receivers[i];
            rr.finished = true;
            rr.exitCode = status == QProcess::NormalExit ? code : 1;
            QFile f(rr.reportFile);
            if (f.open(QIODevice::ReadOnly))
                rr.result = QJsonDocument::fromJson(f.readAll()).object();
            if (rr.result.isEmpty()) {
                // The updater could not even write its result: keep a report all the same.
                rr.result = {{"port", rr.job.label},
                             {"result", "failed"},
                             {"exitCode", rr.exitCode},
                             {"reason", QString::fromUtf8(p->readAllStandardError()).trimmed()}};
                if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    f.write(QJsonDocument(rr.result).toJson());
            }
            if (!terminal)
                std::fprintf(options.out, "%s: %s\n", qPrintable(rr.job.label),
                             qPrintable(StatusText(rr)));
            draw();
            if (--running == 0)
                QCoreApplication::exit(0);
        });
        QStringList args = r.job.args + options.commonArgs;
        args << "--machine"
             << "--result-json" << r.reportFile;
        p->start(options.program, args);
    }
    draw();
    if (running > 0)
        QCoreApplication::exec();

    if (!options.firmware.isEmpty())
        std::fprintf(options.out, "\nFirmware: %s", qPrintable(options.firmware));
    std::fprintf(options.out, "\n%-22s %-10s %-26s %8s %9s  %s\n", "receiver", "identifier",
                 "image", "blocks", "seconds", "result");
    int worst = 0;
    for (const Receiver& r : receivers) {
        const QJsonObject& j = r.result;
        std::fprintf(
            options.out, "%-22s %-10s %-26s %8lld %9.1f  %s%s%s\n", qPrintable(r.job.label),
            qPrintable(j.value("identifier").toString()), qPrintable(j.value("image").toString()),
            static_cast<long long>(j.value("blocks").toDouble()), j.value("seconds").toDouble(),
            qPrintable(j.value("result").toString()), r.exitCode != 0 ? ": " : "",
            r.exitCode != 0 ? qPrintable(j.value("reason").toString()) : "");
        worst = std::max(worst, r.exitCode);
    }
    std::fprintf(options.out, "Reports: %s\n", qPrintable(QDir(options.reportDir).absolutePath()));
    return worst;
}

} // namespace orvane::app
