#include "PlotFeed.h"

#include "ThreadPriority.h"

#include <chrono>
#include <pthread.h>
#include <span>
#include <utility>

TPlotFeed::~TPlotFeed() {
    Stop();
}

void TPlotFeed::Start() {
    if (m_reader.joinable())
        return;
    {
        std::lock_guard lock(m_lock);
        m_stopping = false;
        m_accepting = true;
        // Opened while a line was under way: its rest is not a line of its own.
        m_skipping = m_midLine;
    }
    m_reader = std::thread([this] { Run(); });
}

void TPlotFeed::Stop() {
    if (!m_reader.joinable())
        return;
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_accepting = false;
    }
    m_wake.notify_one();
    m_reader.join();
}

void TPlotFeed::Push(const uint8_t* bytes, size_t count) {
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    Push(bytes, count, ms);
}

void TPlotFeed::Push(const uint8_t* bytes, size_t count, int64_t epochMs) {
    if (count == 0)
        return;
    bool wake;
    {
        std::lock_guard lock(m_lock);
        if (!m_accepting) {
            m_midLine = bytes[count - 1] != '\n' && bytes[count - 1] != '\r';
            return;
        }
        if (m_pending.size() + count > MaxPendingBytes && !m_pending.empty()) {
            m_skipped += count;
            m_skipping = true;
            return;
        }
        m_blocks.push_back({epochMs, m_pending.size(), m_pending.size() + count, m_skipping});
        m_skipping = false;
        m_pending.insert(m_pending.end(), bytes, bytes + count);
        // The reader waits for a first block, or, in a flood, for a batch.
        wake = m_blocks.size() == 1 ||
               (m_pending.size() >= GatherBytes && m_pending.size() - count < GatherBytes);
    }
    if (wake)
        m_wake.notify_one();
}

void TPlotFeed::SetSource(TSource source, const TRecordLayout& layout) {
    std::lock_guard lock(m_lock);
    m_nextSource = source;
    m_nextLayout = layout;
    ++m_sourceSet;
}

void TPlotFeed::SetMemoryLimit(size_t bytes) {
    std::lock_guard lock(m_dataLock);
    m_store.SetMemoryLimit(bytes);
    m_store.Trim();
}

void TPlotFeed::Clear() {
    std::lock_guard lock(m_dataLock);
    m_store.Clear();
    m_counts = TCounts{};
    m_badBase = ~uint64_t(0); // the reader takes its counts as the new base
    m_generation.fetch_add(1, std::memory_order_release);
}

void TPlotFeed::Settle() {
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [&] { return !m_reader.joinable() || (m_blocks.empty() && !m_busy); });
}

void TPlotFeed::Take(const TPlotValue* values, size_t count, uint32_t ms) {
    for (const TPlotValue& v : std::span(values, count)) {
        TPlotSeries* s = m_store.Series(v.Name);
        if (!s)
            continue; // past the most series a plot holds
        const double d = v.Value;
        const bool fits = std::isfinite(d) && d <= 3.4028234e38 && d >= -3.4028234e38;
        s->Append(ms, fits ? float(d) : NAN);
    }
}

void TPlotFeed::Run() {
    pthread_setname_np(pthread_self(), "plot feed"); // for top and profilers
    // Below the window and the serial worker: a flood the reader cannot keep up with is
    // skipped and counted, never paid for by a key or a frame.
    LowerThisThread(3);
    std::vector<uint8_t> bytes;
    std::vector<TBlock> blocks;
    bool flood = false; // the last round took more than one block
    for (;;) {
        bool last;
        uint64_t skipped;
        {
            std::unique_lock lock(m_lock);
            m_busy = false;
            m_idle.notify_all();
            m_wake.wait(lock, [&] { return m_stopping || !m_blocks.empty(); });
            // In a flood, a batch at a time: a wake-up per block costs more than reading it.
            if (flood && !m_stopping && m_pending.size() < GatherBytes)
                m_wake.wait_for(lock, GatherTime,
                                [&] { return m_stopping || m_pending.size() >= GatherBytes; });
            bytes.swap(m_pending);
            blocks.swap(m_blocks);
            m_pending.clear();
            m_blocks.clear();
            last = m_stopping;
            skipped = m_skipped;
            m_skipped = 0;
            m_busy = true;
            flood = blocks.size() > 1;
            if (m_sourceSet != m_sourceSeen) {
                m_sourceSeen = m_sourceSet;
                m_source = m_nextSource;
                m_records.SetLayout(m_nextLayout);
                // A line begun under the other source is not read, nor the rest of one under
                // way when it changed.
                if (m_lastMidLine)
                    m_text.Cut();
                else
                    m_text.Restart();
            }
        }
        // A slice at a time: read without the store's lock, then added under it, so that the
        // window waits for an append at most, never for the reading.
        size_t next = 0;
        do {
            m_parsed.clear();
            m_steps.clear();
            for (size_t read = 0;
                 next < blocks.size() &&
                 (read == 0 || read + blocks[next].End - blocks[next].Begin <= SliceBytes);) {
                const TBlock& b = blocks[next++];
                read += b.End - b.Begin;
                if (b.AfterSkip)
                    m_text.Cut();
                m_steps.push_back({b.Ms, 0}); // the block's time
                auto take = [&](const std::vector<TPlotValue>& values) {
                    m_parsed.insert(m_parsed.end(), values.begin(), values.end());
                    m_steps.push_back({b.Ms, values.size()});
                };
                m_lastMidLine = bytes[b.End - 1] != '\n' && bytes[b.End - 1] != '\r';
                if (m_source == TSource::Text)
                    m_text.Feed(bytes.data() + b.Begin, b.End - b.Begin, take);
                else
                    m_records.Feed(bytes.data() + b.Begin, b.End - b.Begin, take);
            }
            // The values go in a batch at a time, so that the lock is free again soon even for
            // a slice of many short lines.
            const uint64_t badNow = m_text.BadLines() + m_records.BadRecords();
            const TPlotValue* values = m_parsed.data();
            size_t step = 0;
            do {
                std::lock_guard lock(m_dataLock);
                if (m_badBase == ~uint64_t(0))
                    m_badBase = badNow;
                m_counts.Skipped += std::exchange(skipped, 0);
                for (size_t added = 0; step < m_steps.size() && added < BatchValues; ++step) {
                    const TStep& s = m_steps[step];
                    const uint32_t ms = m_store.TimeOf(s.Ms);
                    if (s.Values == 0)
                        continue;
                    Take(values, s.Values, ms);
                    values += s.Values;
                    added += s.Values;
                    ++m_counts.Good;
                }
                m_store.Trim();
                m_counts.Bad = badNow - m_badBase;
                m_counts.Dropped = m_store.DroppedPoints();
            } while (step < m_steps.size());
            m_generation.fetch_add(1, std::memory_order_release);
        } while (next < blocks.size());
        bytes.clear();
        blocks.clear();
        if (last)
            break;
    }
    std::lock_guard lock(m_lock);
    m_busy = false;
    m_idle.notify_all();
}
