#pragma once
// The functions a script sees, as one object on the script's thread. Each is a global of the
// script:
//   send(x)                 text (in the program's code page), an array or a typed array of bytes
//   sendHex("55 AA 01")
//   expect(pattern, ms)     a string, a RegExp or bytes; returns what matched (a string, or a
//                           Uint8Array for bytes) and takes the bytes up to it; throws on time-out
//   receive(ms)             the bytes received and not yet taken, waiting up to ms for the first
//   sleep(ms)  log(...)  fail(message)
//   setRts(on)  setDtr(on)  lines() -> {cts, dsr, ri, rlsd}  setBaud(n)  setParity(name)
//   crc16(bytes)  sum8(bytes)  xor8(bytes)  hex(bytes)  bytes(hexText)
//   protocolFrame({src, dst, cmd, reserve, route, data})
//   onReceive(pattern, fn)  fn(match) runs for each match of the pattern whenever the script
//                           waits (in sleep, expect, receive, a send held by a full queue) and
//                           after its body has ended; a string or bytes it returns is sent.
//                           JavaScript runs one thing at a time: a handler never interrupts the
//                           body's own code, the bytes wait for the body's next wait. A body
//                           that ends well (no throw, no failed test) with handlers registered
//                           does not end the script: it goes on answering, as a device
//                           simulator, until Stop (the script window's Stop button; SIGINT or
//                           SIGTERM for `kestrel --run`), and that stop ends it with code 0. A
//                           handler that throws ends the script with its failure.
//   test(name, fn)          a test case of the JUnit report; a failing one fails the run and
//                           the next one runs
// Script thread only.

#include "ReplyPattern.h"

#include <QJSValue>
#include <QObject>

#include <chrono>
#include <memory>

class QJSEngine;
class TWThreadComm;
struct TScriptShared;
struct TScriptResult;

class TScriptApi : public QObject {
    Q_OBJECT
public:
    TScriptApi(QJSEngine& engine, TWThreadComm& comm, std::shared_ptr<TScriptShared> shared,
               TScriptResult& result);
    ~TScriptApi() override;

    // The names installed as globals.
    static const char* const Functions[];

    Q_INVOKABLE void send(const QJSValue& data);
    Q_INVOKABLE void sendHex(const QString& text);
    Q_INVOKABLE QJSValue expect(const QJSValue& pattern, double timeoutMs);
    Q_INVOKABLE QJSValue receive(double timeoutMs);
    Q_INVOKABLE void sleep(double ms);
    Q_INVOKABLE void logText(const QString& text);
    Q_INVOKABLE void fail(const QJSValue& message);
    Q_INVOKABLE void setRts(bool on);
    Q_INVOKABLE void setDtr(bool on);
    Q_INVOKABLE QJSValue lines();
    Q_INVOKABLE void setBaud(double rate);
    Q_INVOKABLE void setParity(const QString& name);
    Q_INVOKABLE QJSValue crc16(const QJSValue& data);
    Q_INVOKABLE QJSValue sum8(const QJSValue& data);
    Q_INVOKABLE QJSValue xor8(const QJSValue& data);
    Q_INVOKABLE QJSValue hex(const QJSValue& data);
    Q_INVOKABLE QJSValue bytes(const QString& text);
    Q_INVOKABLE QJSValue protocolFrame(const QJSValue& fields);
    Q_INVOKABLE void onReceive(const QJSValue& pattern, const QJSValue& handler);
    Q_INVOKABLE void test(const QString& name, const QJSValue& fn);

    // Set once a JavaScript error has been thrown from C++: the caller returns at once.
    bool Stopped() const;
    // onReceive has been called: the script keeps answering after its body ends.
    bool HasHandlers() const { return !Handlers.empty(); }

private:
    // Bytes of a string, array or typed array; false (and a thrown TypeError) otherwise.
    bool ToBytes(const QJSValue& v, std::string& out);
    QJSValue MakeBytes(const std::string& bytes);
    std::optional<TReplyPattern> ToPattern(const QJSValue& v, bool* asBytes);
    void Throw(const QString& message);
    // Takes what the worker delivered: runs the onReceive handlers over it and keeps it for
    // expect and receive. Returns false when the script is to stop.
    bool Pump();
    // Waits for received bytes, a stop or the deadline; false on stop.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    void SendBytes(const std::string& bytes);
    void Log(const QString& text);

    QJSEngine& Engine;
    TWThreadComm& Comm;
    std::shared_ptr<TScriptShared> Shared;
    TScriptResult& Result;
    QJSValue MakeUint8; // (buffer) => new Uint8Array(buffer)
    std::string Unread; // received, not yet taken by expect or receive
    struct THandler {
        TStreamMatcher Matcher;
        QJSValue Fn;
        bool AsBytes = false;
    };
    std::vector<std::unique_ptr<THandler>> Handlers;
    bool InHandler = false;
    bool InTest = false;
};
