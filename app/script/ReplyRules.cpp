#include "ReplyRules.h"

#include <algorithm>

std::string RuleError(const TReplyRule& rule) {
    const TReplyPattern p = TReplyPattern::Parse(rule.Kind, rule.Pattern);
    if (!p.Valid())
        return p.Error;
    std::string error;
    if (!ParseReply(rule.ReplyHex, rule.Reply, &error))
        return error;
    return {};
}

TAutoReplier::TAutoReplier(TSend send) : Send(std::move(send)) {
    Thread = std::thread([this] { Run(); });
}

TAutoReplier::~TAutoReplier() {
    {
        std::lock_guard lock(Lock);
        Stopping = true;
    }
    Wake.notify_all();
    Thread.join();
}

void TAutoReplier::SetRules(const std::vector<TReplyRule>& rules) {
    std::vector<TActive> active;
    for (size_t i = 0; i < rules.size(); ++i) {
        const TReplyRule& r = rules[i];
        if (!r.Enabled)
            continue;
        TReplyPattern p = TReplyPattern::Parse(r.Kind, r.Pattern);
        std::string error;
        const std::optional<std::string> reply = ParseReply(r.ReplyHex, r.Reply, &error);
        if (!p.Valid() || !reply)
            continue; // shown red by the table, never fires
        active.push_back(TActive{i, TStreamMatcher(std::move(p)), *reply,
                                 std::chrono::milliseconds(r.DelayMs)});
    }
    {
        std::lock_guard lock(Lock);
        Any.store(!active.empty());
        NewRules = std::move(active);
        RulesChanged = true;
        Counts.assign(rules.size(), 0);
    }
    Wake.notify_all();
}

uint64_t TAutoReplier::Fired(size_t rule) const {
    std::lock_guard lock(Lock);
    return rule < Counts.size() ? Counts[rule] : 0;
}

void TAutoReplier::Received(const uint8_t* bytes, uint32_t count) {
    if (count == 0 || !Any.load())
        return;
    {
        std::lock_guard lock(Lock);
        Incoming.emplace_back(reinterpret_cast<const char*>(bytes), count);
        IncomingBytes += count;
        while (IncomingBytes > MaxPending && Incoming.size() > 1) {
            IncomingBytes -= Incoming.front().size();
            DroppedBytes.fetch_add(Incoming.front().size());
            Incoming.pop_front();
        }
    }
    Wake.notify_one();
}

void TAutoReplier::Run() {
    std::vector<TActive> rules; // this thread's
    std::deque<TDue> due;
    struct THit {
        uint64_t End;
        size_t Rule;
    };
    std::vector<THit> hits;
    std::unique_lock lock(Lock);
    for (;;) {
        const auto ready = [&] {
            return Stopping || RulesChanged || !Incoming.empty() ||
                   (!due.empty() && due.front().At <= Clock::now());
        };
        if (due.empty())
            Wake.wait(lock, ready);
        else
            Wake.wait_until(lock, due.front().At, ready);
        if (Stopping)
            return;
        if (RulesChanged) {
            rules = std::move(NewRules);
            NewRules.clear();
            RulesChanged = false;
            due.clear();
        }
        std::deque<std::string> chunks;
        chunks.swap(Incoming);
        IncomingBytes = 0;
        lock.unlock();

        bool fired = false;
        for (const std::string& chunk : chunks) {
            hits.clear();
            for (size_t r = 0; r < rules.size(); ++r)
                rules[r].Matcher.Feed(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(),
                                      [&](uint64_t end, std::string_view) { hits.push_back({end, r}); });
            std::stable_sort(hits.begin(), hits.end(),
                             [](const THit& a, const THit& b) { return a.End < b.End; });
            const Clock::time_point now = Clock::now();
            for (const THit& h : hits) {
                Clock::time_point at = now + rules[h.Rule].Delay;
                if (!due.empty())
                    at = std::max(at, due.back().At);
                due.push_back({at, rules[h.Rule].Reply});
            }
            if (!hits.empty()) {
                fired = true;
                std::lock_guard counts(Lock);
                for (const THit& h : hits)
                    if (rules[h.Rule].Index < Counts.size())
                        ++Counts[rules[h.Rule].Index];
            }
        }
        if (fired && OnFired)
            OnFired();
        // Due replies, in order; a full queue holds them (and this thread) until there is room.
        while (!due.empty() && due.front().At <= Clock::now()) {
            const std::string& b = due.front().Bytes;
            const TSendResult r = Send(reinterpret_cast<const uint8_t*>(b.data()), uint32_t(b.size()));
            if (r == TSendResult::Full) {
                std::unique_lock wait(Lock);
                if (Wake.wait_for(wait, std::chrono::milliseconds(1), [&] { return Stopping; }))
                    return;
                continue;
            }
            due.pop_front();
        }
        lock.lock();
    }
}
