// Scripts as a user types them: the text runs through the real engine and the script functions,
// on the script's own thread, against the loopback plug (what a script sends comes back to it).
// A watchdog stops each script after a short budget, as Stop in the script window does, so
// endless loops and long waits end too. Properties: no script crashes, leaks or hangs the
// program; every run ends with a result of code 0, 1 or 2 soon after the stop.
#include "Fuzzcheck.h"
#include "ScriptRunner.h"
#include "Threadcomm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <optional>

namespace {

// Milliseconds a script may run before the watchdog stops it.
constexpr int Budget = 25;
// Milliseconds a stopped script may take to end before the run counts as a hang.
constexpr int StopLimit = 5000;

struct TFixture {
    int Argc = 1;
    char Arg0[12] = "fuzz_script";
    char* Argv[2] = {Arg0, nullptr};
    QCoreApplication App{Argc, Argv};
    TWThreadComm Comm{true};
    TScriptRunner Runner{Comm};

    TFixture() {
        // The engine's warnings about each odd script (extra arguments and the like) say nothing
        // here and cost time.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        Comm.SetBackendFactory([](const std::string&) { return MakeLoopbackBackend(); });
        Comm.OnReceive = [this](const uint8_t* b, uint32_t n) { Runner.Received(b, n); };
        Comm.OnModemChange = [this](bool cts, bool dsr, bool ri, bool rlsd) {
            Runner.ModemChanged(cts, dsr, ri, rlsd);
        };
        Comm.RequestPort(1);
        Comm.Resume();
        const QDeadlineTimer deadline(StopLimit);
        while (!Comm.IsOpen()) {
            Check(!deadline.hasExpired());
            QThread::msleep(1);
        }
    }
};

// One per process, never destroyed: the worker's events refer to the runner until exit.
TFixture& Fixture() {
    static TFixture* const fixture = new TFixture;
    return *fixture;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TFixture& f = Fixture();
    const QString source = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    QEventLoop loop;
    std::optional<int> code;
    const QMetaObject::Connection finished =
        QObject::connect(&f.Runner, &TScriptRunner::Finished, &loop, [&](const TScriptResult& r) {
            code = r.Code;
            loop.quit();
        });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        f.Runner.Stop();
        // A stopped script that does not end is a hang.
        QTimer::singleShot(StopLimit, &loop, [] { Check(false); });
    });
    Check(f.Runner.Start(QStringLiteral("fuzz.js"), source));
    watchdog.start(Budget);
    loop.exec();
    QObject::disconnect(finished);
    Check(code && *code >= 0 && *code <= 2);

    // The script's thread ends right after it has posted its result.
    const QDeadlineTimer deadline(StopLimit);
    while (f.Runner.Running()) {
        Check(!deadline.hasExpired());
        QThread::yieldCurrentThread();
    }
    f.Comm.CancelSend();
    return 0;
}
