#pragma once
// Automatic replies: a table of rules "when the received bytes match the pattern, send the reply
// (after a delay)", each enabled on its own and counting how often it fired. TAutoReplier runs
// them on a thread of its own, so that a device can be played without anyone at the screen.
//
// Threads: SetRules, Fired, Dropped and the destructor are called on the owner's thread;
// Received on the worker thread (it copies the bytes under a lock and returns). The matching and
// the sends run on the replier's own thread: replies go out in the order of the matches' ends in
// the received stream, each at its match's time plus its delay but never before the reply
// before it. A reply that finds the send queue full waits for room; one that finds the port
// closed is dropped. Received bytes not yet matched are bounded by MaxPending; past it the
// oldest go and Dropped counts them (the receive pane is not affected).

#include "ReplyPattern.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TReplyRule {
    bool Enabled = true;
    TPatternKind Kind = TPatternKind::Text;
    std::string Pattern; // as typed (UTF-8)
    bool ReplyHex = false;
    std::string Reply;   // as typed
    uint32_t DelayMs = 0;
    bool operator==(const TReplyRule&) const = default;
};

// Why a rule cannot fire (its pattern or its reply does not parse), in the interface's words;
// empty when it is sound.
std::string RuleError(const TReplyRule& rule);

enum class TSendResult { Sent, Full, Closed };

class TAutoReplier {
public:
    using TSend = std::function<TSendResult(const uint8_t* bytes, uint32_t count)>;
    explicit TAutoReplier(TSend send);
    ~TAutoReplier();
    TAutoReplier(const TAutoReplier&) = delete;
    TAutoReplier& operator=(const TAutoReplier&) = delete;

    // Replaces the rules; the counts start at 0 and matches under way are forgotten.
    void SetRules(const std::vector<TReplyRule>& rules);
    uint64_t Fired(size_t rule) const;
    uint64_t Dropped() const { return DroppedBytes.load(); }
    // Called on the replier's thread after a rule fired; set before the first Received.
    std::function<void()> OnFired;

    // Worker thread.
    void Received(const uint8_t* bytes, uint32_t count);

    static constexpr size_t MaxPending = 16u << 20;

private:
    using Clock = std::chrono::steady_clock;
    struct TActive {
        size_t Index;
        TStreamMatcher Matcher;
        std::string Reply;
        std::chrono::milliseconds Delay;
    };
    struct TDue {
        Clock::time_point At;
        std::string Bytes;
    };
    void Run();

    TSend Send;
    mutable std::mutex Lock;
    std::condition_variable Wake;
    // Under Lock.
    std::deque<std::string> Incoming;
    size_t IncomingBytes = 0;
    std::vector<TActive> NewRules;
    bool RulesChanged = false;
    std::vector<uint64_t> Counts;
    bool Stopping = false;
    std::atomic<uint64_t> DroppedBytes{0};
    std::atomic<bool> Any{false}; // some rule is enabled and sound
    std::thread Thread;
};
