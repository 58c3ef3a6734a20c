#include "HeadlessRun.h"

#include "CommandLine.h"
#include "Handover.h"
#include "IniFormat.h"
#include "Language.h"
#include "ScriptRunner.h"
#include "Rtf.h"
#include "SettingsFile.h"
#include "StoredSettings.h"
#include "Threadcomm.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("HeadlessRun", text);
}

void Print(FILE* to, const QString& text) {
    const QByteArray b = text.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), to);
    std::fflush(to);
}

// SIGINT and SIGTERM end the run through this pipe: the handler writes a byte, the main
// thread reads it.
int SignalPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(SignalPipe[1], &byte, 1);
    errno = saved;
}

// How long the port may take to open before the run gives up.
constexpr int OpenTimeoutMs = 5000;

// The rates of the settings page's list, by the index the settings keep.
constexpr uint32_t ListedRates[] = {110,   300,   600,   1200,  2400,  4800, 9600,
                                    14400, 19200, 38400, 56000, 57600, 115200};

} // namespace

int RunHeadless(const TCmdLine& line, int& argc, char** argv) {
    // Output to a closed pipe fails a write, it does not end the run.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    InstallHandoverFilter(&app);
    QCoreApplication::setOrganizationName("Orvane Software");
    QCoreApplication::setApplicationName("Kestrel");
    // Read by Kestrel's own reader, which opens nothing but a regular file.
    const TStoredSettings stored = ReadStoredSettings(settings::ReadFile().Map);
    SetLanguage(RunLanguage(line, stored.Language));

    const QString file = *line.RunScript;
    QString source, error;
    if (!LoadScriptFile(file, &source, &error)) {
        Print(stderr, QStringLiteral("kestrel: %1: %2\n").arg(file, error));
        return 2;
    }

    TPortMap map = stored.PortMap ? *stored.PortMap : TPortMap::Defaults();
    uint32_t port = uint32_t(std::clamp<int64_t>(stored.ComPort.value_or(0), 0, 5)) + 1;
    if (line.Port) {
        map.Targets[0] = line.Port->toStdString();
        port = 1;
    }
    uint32_t rate = 4800;
    if (line.BaudRate)
        rate = *line.BaudRate;
    else if (stored.CustomBaudRate)
        rate = uint32_t(*stored.CustomBaudRate);
    else if (stored.BaudRate && *stored.BaudRate >= 0 && *stored.BaudRate < 13)
        rate = ListedRates[*stored.BaudRate];
    const int parity = line.Parity ? *line.Parity
                                   : int(std::clamp<int64_t>(stored.Parity.value_or(0), 0, 4));

    TWThreadComm comm(true);
    TScriptRunner runner(comm);
    comm.OnReceive = [&runner](const uint8_t* b, uint32_t n) { runner.Received(b, n); };
    comm.OnModemChange = [&runner](bool cts, bool dsr, bool ri, bool rlsd) {
        runner.ModemChanged(cts, dsr, ri, rlsd);
    };
    bool started = false;
    // The worker's report reaches this thread as a posted call, told to ThreadSanitizer.
    auto* calls = new TPostedCalls(&app);
    comm.OnPortState = [&, calls](bool open) {
        if (!open)
            return;
        calls->Post([&] {
            if (started)
                return;
            started = true;
            runner.Start(file, source);
        });
    };
    comm.SetPortMap(map);
    comm.SetBaudRate(rate);
    comm.SetParity(uint8_t(parity));
    comm.RequestPort(port);

    int code = 0;
    QObject::connect(&runner, &TScriptRunner::Logged, &app,
                     [](const QString& text) { Print(stdout, text + QLatin1Char('\n')); });
    QObject::connect(&runner, &TScriptRunner::Finished, &app, [&](const TScriptResult& result) {
        code = result.Code;
        if (result.Code != 0)
            Print(stderr, QStringLiteral("kestrel: %1\n").arg(result.Text()));
        if (line.JUnitFile && IsOtherThanRegularFile(*line.JUnitFile)) {
            // A device, a FIFO or a symlink to one is never written through.
            Print(stderr, QStringLiteral("kestrel: %1: %2\n")
                              .arg(*line.JUnitFile, Tr(QT_TRANSLATE_NOOP("HeadlessRun", "不是普通文件"))));
            code = 2;
        } else if (line.JUnitFile) {
            QSaveFile out(*line.JUnitFile);
            if (!out.open(QIODevice::WriteOnly) ||
                out.write(JUnitReport(result, QFileInfo(file).completeBaseName())) < 0 ||
                !out.commit()) {
                Print(stderr, QStringLiteral("kestrel: %1: %2\n").arg(*line.JUnitFile, out.errorString()));
                code = 2;
            }
        }
        app.quit();
    });
    // A stop signal stops the script (a device's play ends with code 0) and the run goes on to
    // its report; before the script has started the run ends at once.
    std::unique_ptr<QSocketNotifier> stopSignal;
    if (::pipe2(SignalPipe, O_NONBLOCK | O_CLOEXEC) == 0) {
        stopSignal = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(stopSignal.get(), &QSocketNotifier::activated, &app, [&] {
            char buf[16];
            while (::read(SignalPipe[0], buf, sizeof buf) > 0) {
            }
            if (runner.Running()) {
                runner.Stop();
            } else if (!started) {
                code = 1;
                app.quit();
            }
        });
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }
    QTimer::singleShot(OpenTimeoutMs, &app, [&] {
        if (started)
            return;
        const TOpenError e = comm.LastOpenError();
        QString text = Tr(QT_TRANSLATE_NOOP("HeadlessRun", "端口打不开：%1"))
                           .arg(QString::fromStdString(e.Target.empty() ? map.Resolve(port) : e.Target));
        if (e.SysError)
            text += QStringLiteral(": ") + QString::fromLocal8Bit(strerror(int(e.SysError)));
        Print(stderr, QStringLiteral("kestrel: %1\n").arg(text));
        code = 2;
        app.quit();
    });
    comm.Resume();
    app.exec();
    runner.Stop();
    comm.Terminate();
    comm.WaitFor();
    return code;
}
