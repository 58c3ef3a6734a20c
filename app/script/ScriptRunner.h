#pragma once
// TScriptRunner: runs one JavaScript file at a time on a thread of its own, driving the serial
// link through the worker. The script sends, waits for answers, checks them and logs; its
// functions are listed in ScriptApi.h. Used by the script window and by `kestrel --run`.
//
// Threads:
// - Start, Stop, Running and the destructor are called on the owner's thread (the window's, or
//   the headless run's main thread). Stop returns at once: the script ends within
//   milliseconds, an endless loop included (QJSEngine::setInterrupted), a wait of the script
//   at once. The destructor stops the script and waits for its thread. A script that has left
//   onReceive handlers runs until Stop (see ScriptApi.h); that stop ends it with code 0.
// - Received and ModemChanged are called on the worker thread, from its events: they copy the
//   bytes under a lock and wake the script, and never wait for it. What the script has not
//   taken yet is bounded (MaxPending); past it the oldest bytes go, and the script's log says
//   how many.
// - The script calls the worker's Send and line settings from its own thread; a send that
//   finds the queue full waits there, in steps, until there is room or the script is stopped.
// - Logged, Finished, BaudRateSet and ParitySet are emitted on the owner's thread: the script
//   thread posts them there, in order, and never waits for them.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <memory>

class QThread;
class TPostedCalls;
class TWThreadComm;
struct TScriptShared;

struct TScriptTest {
    QString Name;
    bool Passed = true;
    QString Message;
    int Line = 0;
    double Seconds = 0;
};

struct TScriptResult {
    // 0 the script ended, 1 it failed (an expectation, a throw, a stop), 2 it could not be
    // loaded or does not parse.
    int Code = 0;
    QString File;
    int Line = 0;     // of the failure, 0 when none is known
    QString Message;  // the failure's, without file and line
    QVector<TScriptTest> Tests;
    double Seconds = 0;
    // "FILE:LINE: message", or the message alone when there is no line.
    QString Text() const;
};
Q_DECLARE_METATYPE(TScriptResult)

class TScriptRunner : public QObject {
    Q_OBJECT
public:
    explicit TScriptRunner(TWThreadComm& comm, QObject* parent = nullptr);
    ~TScriptRunner() override;

    // Runs source (named fileName in its messages). False when a script is running already.
    bool Start(const QString& fileName, const QString& source);
    void Stop();
    bool Running() const;

    // Worker thread.
    void Received(const uint8_t* bytes, uint32_t count);
    void ModemChanged(bool cts, bool dsr, bool ri, bool rlsd);

    // Bytes received and not yet taken by the script, at most.
    static constexpr size_t MaxPending = 16u << 20;

signals:
    // A log line with its time stamp ("hh:mm:ss.zzz text").
    void Logged(const QString& line);
    void Finished(const TScriptResult& result);
    // The script has set the worker's rate or parity (setBaud, setParity): for whoever shows them.
    void BaudRateSet(quint32 rate);
    void ParitySet(int parity);

private:
    TWThreadComm& Comm;
    std::shared_ptr<TScriptShared> Shared;
    QThread* Thread = nullptr;
    TPostedCalls* Calls = nullptr;
};

// Reads a script file: false with *error (in the interface's words) when it is missing, not a
// regular file, unreadable or too big (MaxScriptBytes). Never blocks on a FIFO or a device.
bool LoadScriptFile(const QString& path, QString* source, QString* error);
constexpr qint64 MaxScriptBytes = 4 << 20;

// The JUnit XML report of a run: one test case per test() block, or one for the whole script.
QByteArray JUnitReport(const TScriptResult& result, const QString& suiteName);
