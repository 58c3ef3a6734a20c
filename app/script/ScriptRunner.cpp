#include "ScriptRunner.h"

#include "ScriptApi.h"
#include "ScriptShared.h"

#include "Threadcomm.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJSEngine>
#include <QThread>
#include <QXmlStreamWriter>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("TScriptRunner", text);
}

// log(...) joins its arguments as text; bytes show as hex.
const char* const Prelude = R"JS(
(function (api) {
    return function log() {
        var parts = [];
        for (var i = 0; i < arguments.length; ++i) {
            var a = arguments[i];
            if (a instanceof Uint8Array || a instanceof ArrayBuffer)
                parts.push(api.hex(a instanceof ArrayBuffer ? new Uint8Array(a) : a));
            else if (typeof a === 'object' && a !== null && !(a instanceof Error))
                parts.push(JSON.stringify(a));
            else
                parts.push(String(a));
        }
        api.logText(parts.join(' '));
    };
})
)JS";

// The end of a script that left onReceive handlers: it waits for received bytes until Stop.
const char* const Serve = R"JS(
(function (api) {
    return function () {
        for (;;)
            api.sleep(86400000);
    };
})
)JS";

void RunScript(TWThreadComm& comm, const std::shared_ptr<TScriptShared>& shared,
               const QString& fileName, const QString& source) {
    TScriptResult result;
    result.File = fileName;
    const auto start = std::chrono::steady_clock::now();
    {
        QJSEngine engine;
        {
            std::lock_guard lock(shared->Lock);
            shared->Engine = &engine;
            if (shared->StopFlag.load())
                engine.setInterrupted(true);
        }
        {
            TScriptApi api(engine, comm, shared, result);
            QJSEngine::setObjectOwnership(&api, QJSEngine::CppOwnership);
            QJSValue apiObject = engine.newQObject(&api);
            QJSValue global = engine.globalObject();
            for (const char* const* name = TScriptApi::Functions; *name; ++name)
                global.setProperty(QLatin1String(*name), apiObject.property(QLatin1String(*name)));
            global.setProperty(QStringLiteral("log"),
                               engine.evaluate(QLatin1String(Prelude)).call({apiObject}));

            // Waits in sleep for ever: the handlers answer until Stop.
            QJSValue serve = engine.evaluate(QLatin1String(Serve)).call({apiObject});

            QJSValue r = engine.evaluate(source, fileName, 1);
            // A script whose body ended well with handlers left plays its device until Stop.
            const bool serving = !r.isError() && api.HasHandlers() && !shared->StopFlag.load() &&
                                 std::all_of(result.Tests.begin(), result.Tests.end(),
                                             [](const TScriptTest& t) { return t.Passed; });
            if (serving) {
                api.logText(Tr(QT_TRANSLATE_NOOP("TScriptRunner", "脚本主体已结束，onReceive继续应答，直到停止")));
                r = serve.call();
            }
            if (serving && r.isError() && shared->StopFlag.load()) {
                // The stop that ends a device's play is the script's normal end.
            } else if (r.isError()) {
                const QString stack = r.property(QStringLiteral("stack")).toString();
                result.Line = r.property(QStringLiteral("lineNumber")).toInt();
                result.Message = r.property(QStringLiteral("message")).toString();
                // A parse error stops the script before its first line: no frame of it runs.
                const bool parse = !serving && r.property(QStringLiteral("name")).toString() ==
                                       QLatin1String("SyntaxError") &&
                                   !stack.contains(QLatin1String("%entry@"));
                result.Code = parse ? 2 : 1;
                if (shared->StopFlag.load()) {
                    result.Message = Tr(QT_TRANSLATE_NOOP("TScriptRunner", "已停止"));
                    result.Code = 1;
                }
            }
            for (const TScriptTest& t : result.Tests)
                if (!t.Passed && result.Code == 0) {
                    result.Code = 1;
                    result.Line = t.Line;
                    result.Message = Tr(QT_TRANSLATE_NOOP("TScriptRunner", "测试“%1”失败：%2")).arg(t.Name, t.Message);
                }
        }
        std::lock_guard lock(shared->Lock);
        shared->Engine = nullptr;
    }
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    shared->Calls->Post([runner = shared->Runner, result] { emit runner->Finished(result); });
}

} // namespace

QString TScriptResult::Text() const {
    if (Line > 0)
        return QStringLiteral("%1:%2: %3").arg(File).arg(Line).arg(Message);
    if (!File.isEmpty())
        return QStringLiteral("%1: %2").arg(File, Message);
    return Message;
}

TScriptRunner::TScriptRunner(TWThreadComm& comm, QObject* parent)
    : QObject(parent), Comm(comm), Calls(new TPostedCalls(this)) {
    qRegisterMetaType<TScriptResult>();
}

TScriptRunner::~TScriptRunner() {
    Stop();
    if (Thread) {
        Thread->wait();
        delete Thread;
    }
}

bool TScriptRunner::Start(const QString& fileName, const QString& source) {
    if (Running())
        return false;
    delete Thread;
    auto shared = std::make_shared<TScriptShared>();
    shared->Runner = this;
    shared->Calls = Calls;
    {
        // The lines as last reported carry over to the new run.
        if (Shared) {
            shared->Cts.store(Shared->Cts.load());
            shared->Dsr.store(Shared->Dsr.load());
            shared->Ri.store(Shared->Ri.load());
            shared->Rlsd.store(Shared->Rlsd.load());
        }
    }
    std::atomic_store(&Shared, shared);
    TWThreadComm* comm = &Comm;
    Thread = QThread::create([comm, shared, fileName, source] {
        RunScript(*comm, shared, fileName, source);
    });
    Thread->setObjectName(QStringLiteral("script"));
    Thread->start();
    return true;
}

void TScriptRunner::Stop() {
    const std::shared_ptr<TScriptShared> shared = std::atomic_load(&Shared);
    if (!shared)
        return;
    std::lock_guard lock(shared->Lock);
    shared->StopFlag.store(true);
    if (shared->Engine)
        shared->Engine->setInterrupted(true);
    shared->Wake.notify_all();
}

bool TScriptRunner::Running() const {
    return Thread && Thread->isRunning();
}

void TScriptRunner::Received(const uint8_t* bytes, uint32_t count) {
    const std::shared_ptr<TScriptShared> shared = std::atomic_load(&Shared);
    if (!shared || count == 0)
        return;
    std::lock_guard lock(shared->Lock);
    if (shared->Engine == nullptr)
        return; // no script runs to take them
    shared->Incoming.emplace_back(reinterpret_cast<const char*>(bytes), count);
    shared->IncomingBytes += count;
    while (shared->IncomingBytes > MaxPending && shared->Incoming.size() > 1) {
        shared->IncomingBytes -= shared->Incoming.front().size();
        shared->Dropped += shared->Incoming.front().size();
        shared->Incoming.pop_front();
    }
    shared->Wake.notify_one();
}

void TScriptRunner::ModemChanged(bool cts, bool dsr, bool ri, bool rlsd) {
    const std::shared_ptr<TScriptShared> shared = std::atomic_load(&Shared);
    if (!shared)
        return;
    shared->Cts.store(cts);
    shared->Dsr.store(dsr);
    shared->Ri.store(ri);
    shared->Rlsd.store(rlsd);
}

bool LoadScriptFile(const QString& path, QString* source, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO or a device named by mistake does not hold the open; it is refused below.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = Tr(QT_TRANSLATE_NOOP("TScriptRunner", "无法打开脚本文件：%1")).arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = Tr(QT_TRANSLATE_NOOP("TScriptRunner", "脚本须为普通文件"));
        return false;
    }
    if (st.st_size > MaxScriptBytes) {
        ::close(fd);
        *error = Tr(QT_TRANSLATE_NOOP("TScriptRunner", "脚本文件太大（超过%1 MiB）")).arg(MaxScriptBytes >> 20);
        return false;
    }
    QByteArray bytes;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = Tr(QT_TRANSLATE_NOOP("TScriptRunner", "无法读取脚本文件：%1")).arg(QString::fromLocal8Bit(strerror(errno)));
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        bytes.append(buf, n);
        if (bytes.size() > MaxScriptBytes) {
            ::close(fd);
            *error = Tr(QT_TRANSLATE_NOOP("TScriptRunner", "脚本文件太大（超过%1 MiB）")).arg(MaxScriptBytes >> 20);
            return false;
        }
    }
    ::close(fd);
    *source = QString::fromUtf8(bytes);
    return true;
}

QByteArray JUnitReport(const TScriptResult& result, const QString& suiteName) {
    QVector<TScriptTest> tests = result.Tests;
    // The script's own failure outside every test, or a script without tests, is a case too.
    const bool outside = result.Code != 0 &&
                         std::none_of(tests.begin(), tests.end(),
                                      [](const TScriptTest& t) { return !t.Passed; });
    if (tests.isEmpty() || outside) {
        TScriptTest whole;
        whole.Name = QFileInfo(result.File).fileName();
        whole.Passed = result.Code == 0;
        whole.Message = result.Message;
        whole.Line = result.Line;
        whole.Seconds = result.Seconds;
        tests.push_back(whole);
    }
    int failures = 0;
    for (const TScriptTest& t : tests)
        failures += t.Passed ? 0 : 1;
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), suiteName);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("time"), QString::number(result.Seconds, 'f', 3));
    for (const TScriptTest& t : tests) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("name"), t.Name);
        xml.writeAttribute(QStringLiteral("classname"), suiteName);
        xml.writeAttribute(QStringLiteral("file"), result.File);
        if (t.Line > 0)
            xml.writeAttribute(QStringLiteral("line"), QString::number(t.Line));
        xml.writeAttribute(QStringLiteral("time"), QString::number(t.Seconds, 'f', 3));
        if (!t.Passed) {
            xml.writeStartElement(QStringLiteral("failure"));
            const QString where = t.Line > 0 ? QStringLiteral("%1:%2: ").arg(result.File).arg(t.Line)
                                             : QString();
            xml.writeAttribute(QStringLiteral("message"), t.Message);
            xml.writeCharacters(where + t.Message);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}
