#include "FindCount.h"

#include "HexDump.h"

#include <algorithm>
#include <limits>

namespace {

uint64_t RunBegin(const TReceiveStore& store) {
    return uint64_t(store.RunFirstLine()) * HexDumpBytesPerLine;
}

// Notes in out the text lines that match touches (ascending, each once).
// line and end: the last line noted and where it ends (line -1 at first);
// matches come in order, so one that begins before end lies in that line.
void NoteLines(const TTextIndex& index, const TFindPattern::TMatch& match, int64_t& line, uint64_t& end,
               std::vector<int64_t>& out) {
    const auto note = [&](int64_t t) {
        if (out.empty() || out.back() < t)
            out.push_back(t);
    };
    if (line < 0 || match.Pos >= end) {
        line = index.LineAt(match.Pos);
        end = index.Line(line).End;
    }
    note(line);
    const uint64_t last = match.Pos + std::max<uint32_t>(match.Len, 1) - 1;
    while (last >= end && line + 1 < index.EndLine()) {
        ++line;
        end = index.Line(line).End;
        note(line);
    }
}

} // namespace

int64_t TFoundLines::Count() const {
    std::lock_guard lock(m_mutex);
    return int64_t(m_final.size() + m_tail.size());
}

int64_t TFoundLines::Line(int64_t k) const {
    std::lock_guard lock(m_mutex);
    if (k < 0)
        return -1;
    if (size_t(k) < m_final.size())
        return m_final[size_t(k)];
    k -= int64_t(m_final.size());
    return size_t(k) < m_tail.size() ? m_tail[size_t(k)] : -1;
}

int64_t TFoundLines::Before(int64_t t) const {
    std::lock_guard lock(m_mutex);
    const auto f = std::lower_bound(m_final.begin(), m_final.end(), t);
    if (f != m_final.end())
        return f - m_final.begin();
    return int64_t(m_final.size()) + (std::lower_bound(m_tail.begin(), m_tail.end(), t) - m_tail.begin());
}

int64_t TFoundLines::Dropped() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

uint64_t TFoundLines::Epoch() const {
    std::lock_guard lock(m_mutex);
    return m_epoch;
}

void TFoundLines::AddFinal(const std::vector<int64_t>& lines) {
    std::lock_guard lock(m_mutex);
    for (const int64_t t : lines) {
        if (m_final.empty() || m_final.back() < t)
            m_final.push_back(t);
    }
    // The tail counted before is shown until the new one is: what it holds
    // past the final lines stays.
    if (!m_final.empty()) {
        const auto keep = std::upper_bound(m_tail.begin(), m_tail.end(), m_final.back());
        m_tail.erase(m_tail.begin(), keep);
    }
}

void TFoundLines::SetTail(const std::vector<int64_t>& lines) {
    std::lock_guard lock(m_mutex);
    const int64_t after = m_final.empty() ? std::numeric_limits<int64_t>::min() : m_final.back();
    m_tail.assign(std::upper_bound(lines.begin(), lines.end(), after), lines.end());
}

void TFoundLines::DropBefore(int64_t firstLine) {
    std::lock_guard lock(m_mutex);
    while (!m_final.empty() && m_final.front() < firstLine) {
        m_final.pop_front();
        ++m_dropped;
    }
    if (m_final.empty()) {
        const auto keep = std::lower_bound(m_tail.begin(), m_tail.end(), firstLine);
        m_dropped += keep - m_tail.begin();
        m_tail.erase(m_tail.begin(), keep);
    }
}

void TFoundLines::Reset(uint64_t epoch) {
    std::lock_guard lock(m_mutex);
    m_final = {};
    m_tail = {};
    m_dropped = 0;
    m_epoch = epoch;
}

TFindCount::TFindCount() : m_thread([this] { Run(); }) {}

TFindCount::~TFindCount() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        ++m_generation;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TFindCount::Start(std::shared_ptr<const TFindPattern> pattern, std::shared_ptr<const TReceiveStore> shot,
                       bool collectLines) {
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_pattern = std::move(pattern);
        m_collect = collectLines && m_pattern != nullptr;
        m_lines->Reset(shot ? shot->Epoch() : 0);
        m_chunks.clear();
        m_droppedMatches = m_counted = 0;
        m_begin = shot ? RunBegin(*shot) : 0;
        m_firstChunk = m_begin / ChunkBytes;
        m_tailChunk = m_resumeChunk = m_firstChunk;
        m_tailSkip = m_resumeSkip = 0;
        m_tailCount = 0;
        m_tailKnown = false;
        m_done = m_begin;
        m_goal = shot ? shot->TextIndex().End() : 0;
        m_running = m_pattern != nullptr;
        m_shot = std::move(shot);
        m_work = true;
        m_newShot = false;
    }
    m_wake.notify_all();
}

void TFindCount::Update(std::shared_ptr<const TReceiveStore> shot) {
    {
        std::lock_guard lock(m_mutex);
        if (m_pattern == nullptr)
            return;
        m_goal = shot->TextIndex().End();
        m_running = true;
        m_shot = std::move(shot);
        m_work = true;
        m_newShot = true;
    }
    m_wake.notify_all();
}

void TFindCount::Stop() {
    Start(nullptr, nullptr);
}

TFindCount::TState TFindCount::State() const {
    std::lock_guard lock(m_mutex);
    TState s;
    s.Total = m_counted - m_droppedMatches + (m_tailKnown ? m_tailCount : 0);
    s.Running = m_running;
    s.Done = m_done;
    s.Goal = m_goal;
    s.Begin = m_begin;
    s.Generation = m_generation;
    return s;
}

void TFindCount::DropBefore(const TReceiveStore& shot) {
    if (m_collect)
        m_lines->DropBefore(shot.TextIndex().FirstLine());
    const uint64_t begin = RunBegin(shot);
    m_begin = std::max(m_begin, begin);
    const uint64_t first = begin / ChunkBytes;
    while (!m_chunks.empty() && m_firstChunk < first) {
        m_droppedMatches += m_chunks.front().Count;
        m_chunks.pop_front();
        ++m_firstChunk;
    }
    if (m_chunks.empty())
        m_firstChunk = std::max(m_firstChunk, first);
}

void TFindCount::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_quit || m_work; });
        if (m_quit)
            return;
        m_work = false;
        m_newShot = false;
        const uint64_t generation = m_generation;
        const std::shared_ptr<const TFindPattern> pattern = m_pattern;
        std::shared_ptr<const TReceiveStore> shot = m_shot;
        const bool collect = m_collect;
        if (pattern == nullptr || shot == nullptr) {
            m_running = false;
            continue;
        }
        DropBefore(*shot);
        uint64_t c = m_firstChunk + m_chunks.size();
        uint64_t skip = c == m_resumeChunk ? m_resumeSkip : 0;
        lock.unlock();

        bool cancelled = false;
        uint64_t tail = 0, tailSkip = skip;
        std::vector<int64_t> lines; // of the chunk scanned, when collected
        int64_t line = -1;
        uint64_t lineEnd = 0;
        for (;;) {
            if (m_generation != generation) {
                cancelled = true;
                break;
            }
            if (m_newShot.exchange(false)) {
                lock.lock();
                m_work = false;
                if (m_generation == generation) {
                    shot = m_shot;
                    DropBefore(*shot);
                    if (c < m_firstChunk) {
                        c = m_firstChunk;
                        skip = 0;
                        m_done = c * ChunkBytes;
                    }
                }
                lock.unlock();
            }
            const uint64_t end = shot->TextIndex().End();
            const uint64_t chunkEnd = (c + 1) * ChunkBytes;
            if (chunkEnd + pattern->Reach() > end) {
                // The tail: counted whole again on the next update.
                tail = 0;
                tailSkip = skip;
                lines.clear();
                line = -1;
                pattern->Scan(*shot, c * ChunkBytes, end, skip, [&](const TFindPattern::TMatch& m) {
                    ++tail;
                    if (collect)
                        NoteLines(shot->TextIndex(), m, line, lineEnd, lines);
                    return true;
                });
                break;
            }
            uint32_t count = 0;
            lines.clear();
            line = -1;
            const uint64_t reach = pattern->Scan(*shot, c * ChunkBytes, chunkEnd, skip,
                                                 [&](const TFindPattern::TMatch& m) {
                                                     ++count;
                                                     if (collect)
                                                         NoteLines(shot->TextIndex(), m, line, lineEnd, lines);
                                                     return true;
                                                 });
            const uint64_t nextSkip = std::max(reach, skip);
            lock.lock();
            if (m_generation != generation) {
                lock.unlock();
                cancelled = true;
                break;
            }
            if (c == m_firstChunk + m_chunks.size()) {
                TChunk chunk;
                chunk.Count = count;
                chunk.Skip = skip;
                chunk.Before = m_counted;
                m_chunks.push_back(chunk);
                m_counted += count;
                m_done = chunkEnd;
                m_resumeChunk = c + 1;
                m_resumeSkip = nextSkip;
                m_tailKnown = false;
                if (collect)
                    m_lines->AddFinal(lines);
            }
            lock.unlock();
            skip = nextSkip;
            ++c;
        }
        lock.lock();
        if (!cancelled && m_generation == generation) {
            m_tailChunk = c;
            m_tailSkip = tailSkip;
            m_tailCount = tail;
            m_tailKnown = true;
            if (collect)
                m_lines->SetTail(lines);
            m_done = shot->TextIndex().End();
            m_running = m_work; // a newer snapshot is waiting
        }
    }
}

bool TFindCount::SkipOf(uint64_t c, uint64_t& skip) const {
    if (c >= m_firstChunk && c < m_firstChunk + m_chunks.size()) {
        skip = m_chunks[size_t(c - m_firstChunk)].Skip;
        return true;
    }
    if (m_tailKnown && c == m_tailChunk) {
        skip = m_tailSkip;
        return true;
    }
    return false;
}

uint64_t TFindCount::ScanChunk(const TReceiveStore& store, uint64_t c, uint64_t skip, uint64_t to,
                               const std::function<bool(const TFindPattern::TMatch&)>& found) const {
    return m_pattern->Scan(store, c * ChunkBytes, to, skip, found);
}

TFindCount::EFound TFindCount::Next(const TReceiveStore& store, uint64_t pos, bool forward,
                                    TFindPattern::TMatch& match) const {
    if (m_pattern == nullptr)
        return EFound::None;
    const uint64_t end = store.TextIndex().End();
    // The chunks to look in, in order, each with its skip: the counted ones
    // holding matches and then the tail.
    struct TPlace {
        uint64_t Chunk, Skip, To;
    };
    std::vector<TPlace> places;
    bool complete = false;
    {
        std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < m_chunks.size(); ++i) {
            if (m_chunks[i].Count > 0)
                places.push_back({m_firstChunk + i, m_chunks[i].Skip, (m_firstChunk + i + 1) * ChunkBytes});
        }
        if (m_tailKnown && m_tailCount > 0)
            places.push_back({m_tailChunk, m_tailSkip, end});
        complete = m_tailKnown;
    }
    const auto look = [&](const TPlace& p, bool first) {
        bool any = false;
        TFindPattern::TMatch best;
        ScanChunk(store, p.Chunk, p.Skip, p.To, [&](const TFindPattern::TMatch& m) {
            if (forward) {
                if (first && m.Pos < pos)
                    return true;
                best = m;
                any = true;
                return false;
            }
            if (first && m.Pos >= pos)
                return false;
            best = m;
            any = true;
            return true;
        });
        if (any)
            match = best;
        return any;
    };
    if (forward) {
        // From pos to the end, then round from the start.
        for (const TPlace& p : places) {
            if (p.To > pos && look(p, true))
                return EFound::Match;
        }
        if (!complete)
            return EFound::NotYet;
        for (const TPlace& p : places) {
            if (look(p, false))
                return EFound::Match;
        }
        return EFound::None;
    }
    for (auto it = places.rbegin(); it != places.rend(); ++it) {
        if (it->Chunk * ChunkBytes < pos && look(*it, true))
            return EFound::Match;
    }
    if (!complete)
        return EFound::NotYet;
    for (auto it = places.rbegin(); it != places.rend(); ++it) {
        if (look(*it, false))
            return EFound::Match;
    }
    return EFound::None;
}

bool TFindCount::Rank(const TReceiveStore& store, const TFindPattern::TMatch& match, uint64_t& rank) const {
    if (m_pattern == nullptr)
        return false;
    uint64_t c = match.Pos / ChunkBytes, skip = 0, before = 0, to = 0;
    {
        std::lock_guard lock(m_mutex);
        if (c >= m_firstChunk && c < m_firstChunk + m_chunks.size()) {
            const TChunk& chunk = m_chunks[size_t(c - m_firstChunk)];
            skip = chunk.Skip;
            before = chunk.Before - m_droppedMatches;
            to = match.Pos;
        } else if (m_tailKnown && c >= m_tailChunk) {
            c = m_tailChunk;
            skip = m_tailSkip;
            before = m_counted - m_droppedMatches;
            to = match.Pos;
        } else {
            return false;
        }
    }
    uint64_t n = 0;
    if (to > c * ChunkBytes)
        ScanChunk(store, c, skip, to, [&](const TFindPattern::TMatch&) {
            ++n;
            return true;
        });
    rank = before + n;
    return true;
}

std::vector<TFindPattern::TMatch> TFindCount::MatchesIn(const TReceiveStore& store, uint64_t from, uint64_t to,
                                                        size_t max) const {
    std::vector<TFindPattern::TMatch> out;
    if (m_pattern == nullptr || from >= to)
        return out;
    const uint64_t c = from / ChunkBytes;
    uint64_t skip = 0;
    bool known = false;
    uint64_t scanFrom = c * ChunkBytes;
    {
        std::lock_guard lock(m_mutex);
        // A chunk earlier than the one holding from (a match may reach into it).
        const uint64_t before = c > 0 && from - c * ChunkBytes < m_pattern->Reach() ? c - 1 : c;
        for (uint64_t k = before; k <= c && !known; ++k) {
            known = SkipOf(k, skip);
            if (known)
                scanFrom = k * ChunkBytes;
        }
        if (!known && m_tailKnown && c > m_tailChunk) {
            known = true;
            skip = m_tailSkip;
            scanFrom = m_tailChunk * ChunkBytes;
        }
    }
    if (!known)
        return out;
    m_pattern->Scan(store, scanFrom, to, skip, [&](const TFindPattern::TMatch& m) {
        if (m.Pos + m.Len > from)
            out.push_back(m);
        return out.size() < max;
    });
    return out;
}
