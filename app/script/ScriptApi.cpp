#include "ScriptApi.h"

#include "ScriptShared.h"

#include "CodePage.h"
#include "Crc16.h"
#include "HexText.h"
#include "ProtocolFrame.h"
#include "Threadcomm.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJSEngine>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

QString Tr(const char* text) {
    return QCoreApplication::translate("TScriptApi", text);
}

Clock::time_point DeadlineAfter(double ms) {
    if (!(ms > 0))
        return Clock::now();
    // A day at most: a wait that long is a wait for Stop.
    ms = std::min(ms, 86400000.0);
    return Clock::now() + std::chrono::microseconds(int64_t(ms * 1000));
}

// How long a send waits between two tries while the queue is full.
constexpr std::chrono::milliseconds SendRetry{1};

} // namespace

const char* const TScriptApi::Functions[] = {
    "send", "sendHex", "expect", "receive", "sleep", "fail", "setRts", "setDtr", "lines",
    "setBaud", "setParity", "crc16", "sum8", "xor8", "hex", "bytes", "protocolFrame",
    "onReceive", "test", nullptr};

TScriptApi::TScriptApi(QJSEngine& engine, TWThreadComm& comm, std::shared_ptr<TScriptShared> shared,
                       TScriptResult& result)
    : Engine(engine), Comm(comm), Shared(std::move(shared)), Result(result) {
    MakeUint8 = Engine.evaluate(QStringLiteral("(function (b) { return new Uint8Array(b); })"));
}

TScriptApi::~TScriptApi() = default;

bool TScriptApi::Stopped() const {
    return Shared->StopFlag.load();
}

void TScriptApi::Throw(const QString& message) {
    Engine.throwError(QJSValue::GenericError, message);
}

void TScriptApi::Log(const QString& text) {
    const QString line = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + text;
    Shared->Calls->Post([runner = Shared->Runner, line] { emit runner->Logged(line); });
}

bool TScriptApi::ToBytes(const QJSValue& v, std::string& out) {
    out.clear();
    if (v.isString()) {
        const QByteArray b = ToCodePage(v.toString());
        out.assign(b.constData(), size_t(b.size()));
        return true;
    }
    if (v.isObject()) {
        const QJSValue length = v.property(QStringLiteral("length"));
        if (length.isNumber()) {
            const double n = length.toNumber();
            if (!(n >= 0 && n <= double(MaxScriptSend))) {
                Engine.throwError(QJSValue::RangeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "数据太长")));
                return false;
            }
            out.reserve(size_t(n));
            for (quint32 i = 0; i < quint32(n); ++i) {
                const double b = v.property(i).toNumber();
                if (!(b >= 0 && b <= 255) || b != std::floor(b)) {
                    Engine.throwError(QJSValue::TypeError,
                                      Tr(QT_TRANSLATE_NOOP("TScriptApi", "字节须为0到255的整数，第%1个不是")).arg(i));
                    return false;
                }
                out.push_back(char(uint8_t(b)));
            }
            return true;
        }
        const QVariant var = v.toVariant();
        if (var.typeId() == QMetaType::QByteArray) {
            const QByteArray b = var.toByteArray();
            out.assign(b.constData(), size_t(b.size()));
            return true;
        }
    }
    Engine.throwError(QJSValue::TypeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "须为文本、字节数组或Uint8Array")));
    return false;
}

QJSValue TScriptApi::MakeBytes(const std::string& bytes) {
    return MakeUint8.call(
        {Engine.toScriptValue(QByteArray(bytes.data(), qsizetype(bytes.size())))});
}

std::optional<TReplyPattern> TScriptApi::ToPattern(const QJSValue& v, bool* asBytes) {
    *asBytes = false;
    TReplyPattern p;
    if (v.isRegExp()) {
        p = TReplyPattern::FromRegex(v.toVariant().toRegularExpression());
    } else {
        std::string bytes;
        if (!ToBytes(v, bytes))
            return std::nullopt;
        *asBytes = !v.isString();
        p = TReplyPattern::Literal(bytes);
    }
    if (!p.Valid()) {
        Throw(QString::fromStdString(p.Error));
        return std::nullopt;
    }
    return p;
}

bool TScriptApi::WaitUntil(Clock::time_point deadline) {
    std::unique_lock lock(Shared->Lock);
    Shared->Wake.wait_until(lock, deadline, [&] {
        return Shared->StopFlag.load() || !Shared->Incoming.empty();
    });
    return !Shared->StopFlag.load();
}

bool TScriptApi::Pump() {
    if (Shared->StopFlag.load())
        return false;
    // Inside a handler the bytes stay where they are, for after it.
    if (InHandler)
        return true;
    std::deque<std::string> chunks;
    uint64_t dropped = 0;
    {
        std::lock_guard lock(Shared->Lock);
        chunks.swap(Shared->Incoming);
        Shared->IncomingBytes = 0;
        dropped = std::exchange(Shared->Dropped, 0);
    }
    if (dropped > 0)
        Log(Tr(QT_TRANSLATE_NOOP("TScriptApi", "脚本未及读取，丢弃了%1字节")).arg(dropped));
    for (const std::string& chunk : chunks) {
        if (!Handlers.empty()) {
            // The handlers' matches in the order their ends came in.
            struct THit {
                uint64_t End;
                size_t Handler;
                std::string Match;
            };
            std::vector<THit> hits;
            for (size_t h = 0; h < Handlers.size(); ++h)
                Handlers[h]->Matcher.Feed(
                    reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(),
                    [&](uint64_t end, std::string_view m) { hits.push_back({end, h, std::string(m)}); });
            std::stable_sort(hits.begin(), hits.end(),
                             [](const THit& a, const THit& b) { return a.End < b.End; });
            for (const THit& hit : hits) {
                THandler& h = *Handlers[hit.Handler];
                const QJSValue arg = h.AsBytes ? MakeBytes(hit.Match)
                                               : QJSValue(FromCodePage(QByteArrayView(
                                                     hit.Match.data(), qsizetype(hit.Match.size()))));
                InHandler = true;
                const QJSValue answer = QJSValue(h.Fn).call({arg});
                InHandler = false;
                if (answer.isError()) {
                    Engine.throwError(answer);
                    return false;
                }
                if (Shared->StopFlag.load())
                    return false;
                if (answer.isString() || answer.isObject()) {
                    std::string reply;
                    if (!ToBytes(answer, reply))
                        return false;
                    SendBytes(reply);
                }
            }
        }
        Unread += chunk;
    }
    if (Unread.size() > TScriptRunner::MaxPending) {
        const size_t cut = Unread.size() - TScriptRunner::MaxPending;
        Unread.erase(0, cut);
        Log(Tr(QT_TRANSLATE_NOOP("TScriptApi", "脚本未及读取，丢弃了%1字节")).arg(cut));
    }
    return !Shared->StopFlag.load();
}

void TScriptApi::SendBytes(const std::string& bytes) {
    if (bytes.empty())
        return;
    if (bytes.size() > MaxScriptSend) {
        Engine.throwError(QJSValue::RangeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "数据太长")));
        return;
    }
    // A full queue holds the script here, not the window.
    while (!Comm.Send(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()))) {
        if (!Comm.IsOpen() && !Comm.ControlRTS.load()) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "端口未打开")));
            return;
        }
        if (!Pump() || !WaitUntil(Clock::now() + SendRetry)) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
            return;
        }
    }
}

void TScriptApi::send(const QJSValue& data) {
    std::string bytes;
    if (ToBytes(data, bytes))
        SendBytes(bytes);
}

void TScriptApi::sendHex(const QString& text) {
    std::string error;
    const std::optional<std::string> b = ParseReply(true, text.toStdString(), &error);
    if (!b) {
        Throw(QString::fromStdString(error));
        return;
    }
    SendBytes(*b);
}

QJSValue TScriptApi::expect(const QJSValue& pattern, double timeoutMs) {
    bool asBytes = false;
    const std::optional<TReplyPattern> p = ToPattern(pattern, &asBytes);
    if (!p)
        return {};
    const Clock::time_point deadline = DeadlineAfter(timeoutMs);
    TStreamMatcher matcher(*p);
    size_t fed = 0;
    std::optional<std::pair<uint64_t, std::string>> found;
    for (;;) {
        const size_t before = Unread.size();
        if (!Pump()) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
            return {};
        }
        if (Unread.size() < before) { // the oldest bytes went: start over on what is left
            matcher.Reset();
            fed = 0;
        }
        if (Unread.size() > fed) {
            matcher.Feed(reinterpret_cast<const uint8_t*>(Unread.data()) + fed, Unread.size() - fed,
                         [&](uint64_t end, std::string_view m) {
                             if (!found)
                                 found.emplace(end, std::string(m));
                         });
            fed = Unread.size();
        }
        if (found) {
            Unread.erase(0, size_t(found->first));
            if (asBytes)
                return MakeBytes(found->second);
            return QJSValue(FromCodePage(
                QByteArrayView(found->second.data(), qsizetype(found->second.size()))));
        }
        if (Clock::now() >= deadline)
            break;
        if (!WaitUntil(deadline)) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
            return {};
        }
    }
    QString what = pattern.toString();
    if (asBytes) {
        std::string b;
        ToBytes(pattern, b);
        HexBytes h;
        h.Count = uint32_t(std::min<size_t>(b.size(), HexBytesCapacity));
        std::copy_n(b.begin(), h.Count, h.Data);
        what = QString::fromStdString(BytesToHexText(h)).trimmed();
    }
    Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "等待“%1”超时（%2毫秒）")).arg(what.left(200)).arg(timeoutMs));
    return {};
}

QJSValue TScriptApi::receive(double timeoutMs) {
    const Clock::time_point deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        if (!Pump()) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
            return {};
        }
        if (!Unread.empty() || Clock::now() >= deadline)
            break;
        if (!WaitUntil(deadline)) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
            return {};
        }
    }
    std::string taken;
    taken.swap(Unread);
    return MakeBytes(taken);
}

void TScriptApi::sleep(double ms) {
    const Clock::time_point deadline = DeadlineAfter(ms);
    for (;;) {
        if (!Pump()) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
            return;
        }
        if (Clock::now() >= deadline)
            return;
        if (!WaitUntil(deadline)) {
            Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
            return;
        }
    }
}

void TScriptApi::logText(const QString& text) {
    Log(text);
}

void TScriptApi::fail(const QJSValue& message) {
    Throw(message.isUndefined() ? Tr(QT_TRANSLATE_NOOP("TScriptApi", "脚本判定失败")) : message.toString());
}

void TScriptApi::setRts(bool on) {
    Comm.SetRts(on);
}

void TScriptApi::setDtr(bool on) {
    Comm.SetDtr(on);
}

QJSValue TScriptApi::lines() {
    QJSValue o = Engine.newObject();
    o.setProperty(QStringLiteral("cts"), Shared->Cts.load());
    o.setProperty(QStringLiteral("dsr"), Shared->Dsr.load());
    o.setProperty(QStringLiteral("ri"), Shared->Ri.load());
    o.setProperty(QStringLiteral("rlsd"), Shared->Rlsd.load());
    return o;
}

void TScriptApi::setBaud(double rate) {
    if (!(rate >= 1 && rate <= 99999999) || rate != std::floor(rate)) {
        Engine.throwError(QJSValue::RangeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "波特率须为1到99999999的整数")));
        return;
    }
    Comm.SetBaudRate(uint32_t(rate));
    Shared->Calls->Post([runner = Shared->Runner, r = quint32(rate)] { emit runner->BaudRateSet(r); });
}

void TScriptApi::setParity(const QString& name) {
    static const char* const Names[] = {"none", "odd", "even", "mark", "space"};
    for (uint8_t i = 0; i < 5; ++i)
        if (name.trimmed().toLower() == QLatin1String(Names[i])) {
            Comm.SetParity(i);
            Shared->Calls->Post([runner = Shared->Runner, p = int(i)] { emit runner->ParitySet(p); });
            return;
        }
    Engine.throwError(QJSValue::RangeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "校验须为none、odd、even、mark或space")));
}

QJSValue TScriptApi::crc16(const QJSValue& data) {
    std::string b;
    if (!ToBytes(data, b))
        return {};
    return QJSValue(int(Crc16(reinterpret_cast<const uint8_t*>(b.data()), uint32_t(b.size()))));
}

// The 8-bit sum and XOR of the send pane's read-outs.
QJSValue TScriptApi::sum8(const QJSValue& data) {
    std::string b;
    if (!ToBytes(data, b))
        return {};
    uint8_t sum = 0;
    for (char c : b)
        sum = uint8_t(sum + uint8_t(c));
    return QJSValue(int(sum));
}

QJSValue TScriptApi::xor8(const QJSValue& data) {
    std::string b;
    if (!ToBytes(data, b))
        return {};
    uint8_t x = 0;
    for (char c : b)
        x ^= uint8_t(c);
    return QJSValue(int(x));
}

QJSValue TScriptApi::hex(const QJSValue& data) {
    std::string b;
    if (!ToBytes(data, b))
        return {};
    static const char Digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(qsizetype(b.size() * 3));
    for (size_t i = 0; i < b.size(); ++i) {
        if (i > 0)
            out += QLatin1Char(' ');
        out += QLatin1Char(Digits[uint8_t(b[i]) >> 4]);
        out += QLatin1Char(Digits[uint8_t(b[i]) & 15]);
    }
    return QJSValue(out);
}

QJSValue TScriptApi::bytes(const QString& text) {
    std::string error;
    if (text.trimmed().isEmpty())
        return MakeBytes({});
    const std::optional<std::string> b = ParseReply(true, text.toStdString(), &error);
    if (!b) {
        Throw(QString::fromStdString(error));
        return {};
    }
    return MakeBytes(*b);
}

QJSValue TScriptApi::protocolFrame(const QJSValue& fields) {
    TProtocolFields f;
    auto byteField = [&](const char* name, uint8_t& out) {
        const QJSValue v = fields.property(QLatin1String(name));
        if (v.isUndefined())
            return true;
        const double n = v.toNumber();
        if (!(n >= 0 && n <= 255) || n != std::floor(n)) {
            Engine.throwError(QJSValue::RangeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "%1须为0到255的整数")).arg(QLatin1String(name)));
            return false;
        }
        out = uint8_t(n);
        return true;
    };
    if (!byteField("src", f.Source) || !byteField("dst", f.Dest) || !byteField("cmd", f.Cmd))
        return {};
    std::string b;
    for (const char* name : {"reserve", "route", "data"}) {
        const QJSValue v = fields.property(QLatin1String(name));
        if (v.isUndefined())
            continue;
        if (!ToBytes(v, b))
            return {};
        if (name[0] == 'r' && name[2] == 's') {
            if (b.size() > 4) {
                Engine.throwError(QJSValue::RangeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "reserve最多4个字节")));
                return {};
            }
            std::copy(b.begin(), b.end(), f.Reserve);
        } else {
            (name[0] == 'r' ? f.Route : f.Data).assign(b.begin(), b.end());
        }
    }
    const std::vector<uint8_t> frame = BuildProtocolFrame(f);
    if (frame.empty()) {
        Engine.throwError(QJSValue::RangeError,
                          Tr(QT_TRANSLATE_NOOP("TScriptApi", "路由最多%1字节，数据最多%2字节")).arg(VMRouteMax).arg(VMDataMax));
        return {};
    }
    return MakeBytes(std::string(frame.begin(), frame.end()));
}

void TScriptApi::onReceive(const QJSValue& pattern, const QJSValue& handler) {
    if (!handler.isCallable()) {
        Engine.throwError(QJSValue::TypeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "onReceive的第二个参数须为函数")));
        return;
    }
    bool asBytes = false;
    std::optional<TReplyPattern> p = ToPattern(pattern, &asBytes);
    if (!p)
        return;
    Handlers.push_back(std::make_unique<THandler>(THandler{TStreamMatcher(std::move(*p)), handler, asBytes}));
}

void TScriptApi::test(const QString& name, const QJSValue& fn) {
    if (!fn.isCallable()) {
        Engine.throwError(QJSValue::TypeError, Tr(QT_TRANSLATE_NOOP("TScriptApi", "test的第二个参数须为函数")));
        return;
    }
    if (InTest) {
        Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "test不能嵌套")));
        return;
    }
    TScriptTest t;
    t.Name = name;
    const Clock::time_point start = Clock::now();
    InTest = true;
    const QJSValue r = QJSValue(fn).call();
    InTest = false;
    t.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (r.isError()) {
        t.Passed = false;
        t.Message = r.property(QStringLiteral("message")).toString();
        t.Line = r.property(QStringLiteral("lineNumber")).toInt();
        Log(Tr(QT_TRANSLATE_NOOP("TScriptApi", "失败：%1 — %2:%3: %4")).arg(name, Result.File).arg(t.Line).arg(t.Message));
    } else {
        Log(Tr(QT_TRANSLATE_NOOP("TScriptApi", "通过：%1")).arg(name));
    }
    Result.Tests.push_back(t);
    // A stop ends the whole script, not only this test.
    if (Shared->StopFlag.load() || Engine.isInterrupted())
        Throw(Tr(QT_TRANSLATE_NOOP("TScriptApi", "已停止")));
}
