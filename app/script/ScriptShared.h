#pragma once
// What TScriptRunner (owner and worker threads) and its script thread share. See ScriptRunner.h
// for the threading rules.

#include "Handover.h"
#include "ScriptRunner.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class QJSEngine;

// Largest block one send takes.
constexpr size_t MaxScriptSend = 16u << 20;

struct TScriptShared {
    std::mutex Lock;
    std::condition_variable Wake;
    // Under Lock.
    std::deque<std::string> Incoming; // received blocks the script has not taken
    size_t IncomingBytes = 0;
    uint64_t Dropped = 0;            // bytes let go past MaxPending, not yet logged
    QJSEngine* Engine = nullptr;     // the running script's, for Stop
    std::atomic<bool> StopFlag{false};
    std::atomic<bool> Cts{false}, Dsr{false}, Ri{false}, Rlsd{false};
    // The runner, whose signals the script thread has emitted on the owner's thread through
    // Calls; both outlive the script thread.
    TScriptRunner* Runner = nullptr;
    TPostedCalls* Calls = nullptr;
};
