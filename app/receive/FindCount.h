#pragma once
// TFindCount: counts the matches of a find pattern in the receive run on a
// thread of its own, and finds the next or previous match for the window.
//
// The run is counted in chunks of TTextIndex::ChunkBytes positions (one dump
// block of the store each): per chunk the number of matches that begin in it
// and where the last match of the chunk before ends (matches do not overlap),
// about 24 bytes per 256 KiB. The offsets of the matches themselves are not
// kept: a chunk is scanned again, in well under a millisecond, when its
// matches are shown or stepped through. A chunk is final once the bytes a
// match could reach past its end have arrived; the chunks after the last
// final one are the tail, counted again whenever newer bytes come, so bytes
// that arrive are counted without searching the session again.
//
// The count reads snapshots of the store (TReceiveStore::Snapshot: the full
// blocks shared, not copied). Chunks the store drops at its memory limit are
// dropped from the count with their matches when the next snapshot arrives.
//
// For the text view's filter the count can also collect the text lines
// (TTextIndex numbering) that hold a match, in a TFoundLines: 8 bytes per
// such line, only while asked for. A match that runs over a line break puts
// every line it touches there.
//
// Threads: Start, Update, Stop, State and the finding calls come from the
// window's thread; the counting thread takes each newer snapshot at the next
// chunk and starts over at the next chunk when the pattern changes. All
// shared state is under one mutex, held for O(1) or a walk of the chunk
// records, never for a scan.

#include "FindPattern.h"
#include "ReceiveStore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The text lines that hold a match, ascending, each once. Written by the
// counting thread, read on any thread: every call locks for O(1) or O(log).
class TFoundLines {
public:
    int64_t Count() const;
    // Found line k (from 0): its TTextIndex line; -1 out of range.
    int64_t Line(int64_t k) const;
    // How many found lines come before text line t.
    int64_t Before(int64_t t) const;
    // Found lines forgotten from the front since the count started (their
    // bytes were dropped at the memory limit).
    int64_t Dropped() const;
    // The store's epoch these lines belong to.
    uint64_t Epoch() const;

private:
    friend class TFindCount;
    // Under the lock: appends the lines of a chunk now final, each once.
    void AddFinal(const std::vector<int64_t>& lines);
    void SetTail(const std::vector<int64_t>& lines);
    void DropBefore(int64_t firstLine);
    void Reset(uint64_t epoch);

    mutable std::mutex m_mutex;
    std::deque<int64_t> m_final;  // of the final chunks
    std::vector<int64_t> m_tail;  // of the tail, each after m_final's last
    int64_t m_dropped = 0;
    uint64_t m_epoch = 0;
};

class TFindCount {
public:
    static constexpr uint64_t ChunkBytes = TTextIndex::ChunkBytes;

    TFindCount();
    ~TFindCount();
    TFindCount(const TFindCount&) = delete;
    TFindCount& operator=(const TFindCount&) = delete;

    // A new pattern (or a new session: after Clear or Open) counted from the
    // start of shot; what was counted before is forgotten.
    // collectLines: the lines that hold a match go to Lines() as they are counted.
    void Start(std::shared_ptr<const TFindPattern> pattern, std::shared_ptr<const TReceiveStore> shot,
               bool collectLines = false);
    // Newer bytes of the same session: counted on from where the count stands.
    void Update(std::shared_ptr<const TReceiveStore> shot);
    // No pattern: the thread stops counting at its next chunk.
    void Stop();

    struct TState {
        uint64_t Total = 0;    // matches counted so far
        bool Running = false;  // chunks are being counted
        uint64_t Done = 0;     // positions counted
        uint64_t Goal = 0;     // positions to count (the snapshot's end)
        uint64_t Begin = 0;    // the first position held
        uint64_t Generation = 0;
    };
    TState State() const;
    const std::shared_ptr<const TFindPattern>& Pattern() const { return m_pattern; }
    bool CollectsLines() const { return m_collect; }
    // The lines found; empty unless Start asked for them. Lives as long as its holders.
    std::shared_ptr<const TFoundLines> Lines() const { return m_lines; }

    enum class EFound { Match, None, NotYet };
    // On the window's thread, over the live store of the counted session: the
    // first match that begins at or after pos (forward), or the last that
    // begins before pos, going round the end. NotYet: the count has not yet
    // reached a chunk that may hold it.
    EFound Next(const TReceiveStore& store, uint64_t pos, bool forward, TFindPattern::TMatch& match) const;
    // The index (from 0) of match among all counted; false when its chunk is not counted yet.
    bool Rank(const TReceiveStore& store, const TFindPattern::TMatch& match, uint64_t& rank) const;
    // The matches that begin in [from, to) (and, so that one reaching into
    // from is shown, in the chunk before it); at most max of them.
    std::vector<TFindPattern::TMatch> MatchesIn(const TReceiveStore& store, uint64_t from, uint64_t to,
                                                size_t max = 4096) const;

private:
    struct TChunk {
        uint32_t Count = 0;
        uint64_t Before = 0; // matches in the chunks before, since Start
        uint64_t Skip = 0;   // where the last match before the chunk ends
    };
    void Run();
    // Under the lock: forgets the chunks before the snapshot's first position.
    void DropBefore(const TReceiveStore& shot);
    // Under the lock: the skip of chunk c, or false when it is not known.
    bool SkipOf(uint64_t c, uint64_t& skip) const;
    // Scans chunk c (or the tail from it) of store with the recorded skip.
    uint64_t ScanChunk(const TReceiveStore& store, uint64_t c, uint64_t skip, uint64_t to,
                       const std::function<bool(const TFindPattern::TMatch&)>& found) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<const TFindPattern> m_pattern; // window's thread; written under the lock
    std::shared_ptr<const TReceiveStore> m_shot;
    bool m_collect = false; // window's thread; written under the lock
    const std::shared_ptr<TFoundLines> m_lines = std::make_shared<TFoundLines>();
    bool m_work = false;
    bool m_quit = false;
    std::atomic<uint64_t> m_generation{0};
    std::atomic<bool> m_newShot{false};
    // The counted chunks: m_chunks[i] is chunk m_firstChunk + i; all final.
    std::deque<TChunk> m_chunks;
    uint64_t m_firstChunk = 0;
    uint64_t m_droppedMatches = 0; // in chunks dropped since Start
    uint64_t m_counted = 0;        // matches in m_chunks plus the dropped ones
    // The chunk after the last counted and where the last match before it ends.
    uint64_t m_resumeChunk = 0;
    uint64_t m_resumeSkip = 0;
    // The tail: from chunk m_tailChunk on (skip m_tailSkip), m_tailCount matches.
    uint64_t m_tailChunk = 0;
    uint64_t m_tailSkip = 0;
    uint64_t m_tailCount = 0;
    bool m_tailKnown = false;
    bool m_running = false;
    uint64_t m_done = 0, m_goal = 0, m_begin = 0;
    std::thread m_thread;
};
