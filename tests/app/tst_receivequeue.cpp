#include "BlockSupply.h"
#include "ReceiveQueue.h"
#include "ReceiveStore.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Everything pending, as the window takes it: the blocks' bytes and times.
std::vector<TReceivedBlock> TakeAll(TReceiveQueue& queue, std::vector<std::vector<uint8_t>>& out) {
    std::vector<TReceivedBlock> taken;
    TReceivedBlock block;
    while (queue.Peek(block)) {
        out.emplace_back(block.Bytes, block.Bytes + block.Size);
        taken.push_back(block);
        queue.Pop();
    }
    return taken;
}

TEST(ReceQueue, KeepsOrderAndBlockBoundariesAcrossThreads) {
    TReceiveQueue queue;
    std::vector<std::vector<uint8_t>> received;
    QElapsedTimer sinceReady;
    qint64 shortestGap = 1 << 30;
    int readies = 0;
    QObject::connect(&queue, &TReceiveQueue::Ready, [&] {
        const qint64 gap = sinceReady.isValid() ? sinceReady.elapsed() : 1 << 30;
        sinceReady.start();
        ++readies;
        // Segments the window is done with take later blocks, which must come out with
        // nothing of the old ones left in them.
        size_t bytes = 0;
        for (const TReceivedBlock& block : TakeAll(queue, received))
            bytes += block.Size;
        if (bytes < TReceiveQueue::WakeBytes)
            shortestGap = std::min(shortestGap, gap);
    });

    // Block i holds i % 50 bytes (some empty), counting on from the last byte: some segments
    // fill with bytes, others with blocks.
    constexpr int Blocks = 20000;
    std::thread worker([&] {
        uint8_t next = 0;
        for (int i = 0; i < Blocks; ++i) {
            std::vector<uint8_t> block(size_t(i % 50));
            for (uint8_t& b : block)
                b = next++;
            queue.Push(block.data(), block.size());
        }
    });
    const bool all = QTest::qWaitFor([&] { return received.size() == size_t(Blocks); }, 20000);
    worker.join();
    ASSERT_TRUE(all) << received.size();

    uint8_t next = 0;
    for (int i = 0; i < Blocks; ++i) {
        ASSERT_EQ(received[size_t(i)].size(), size_t(i % 50)) << i;
        for (uint8_t b : received[size_t(i)])
            ASSERT_EQ(b, next++) << i;
    }
    EXPECT_FALSE(queue.Pending());
    // Wake-ups are spaced by at least a frame, unless a flood's pieces are waiting.
    if (readies > 1) {
        EXPECT_GE(shortestGap, TReceiveQueue::FrameMs - 1);
    }
}

TEST(ReceQueue, BlocksPushedAfterATakeWakeTheWindowAgain) {
    TReceiveQueue queue;
    int readies = 0;
    QObject::connect(&queue, &TReceiveQueue::Ready, [&] { ++readies; });
    const uint8_t byte = 0xFF;
    queue.Push(&byte, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readies == 1; }, 2000));
    std::vector<std::vector<uint8_t>> taken;
    TakeAll(queue, taken);
    EXPECT_EQ(taken, (std::vector<std::vector<uint8_t>>{{0xFF}}));
    queue.Push(nullptr, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readies == 2; }, 2000));
    taken.clear();
    TakeAll(queue, taken);
    EXPECT_EQ(taken, (std::vector<std::vector<uint8_t>>{{}}));
    EXPECT_FALSE(queue.Pending());
}

TEST(ReceQueue, HoldsNoMemoryBlockUntilBytesCome) {
    // A window that never receives holds no block of the supply's memory.
    const size_t before = blocksupply::Mapped();
    TReceiveQueue queue;
    queue.Push(nullptr, 0);
    TReceivedBlock block;
    ASSERT_TRUE(queue.Peek(block));
    EXPECT_EQ(block.Size, 0u);
    EXPECT_EQ(blocksupply::Mapped(), before);
    const uint8_t byte = 7;
    queue.Push(&byte, 1);
    EXPECT_EQ(blocksupply::Mapped(), before + 1);
}

TEST(ReceQueue, ABlockLargerThanASegmentComesOutWholeInPiecesOfOneTime) {
    TReceiveQueue queue;
    std::vector<uint8_t> big(size_t(600) << 10);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7 + i / 251);
    const uint8_t small[3] = {1, 2, 3};
    queue.Push(small, sizeof small);
    queue.Push(big.data(), big.size());
    queue.Push(small, sizeof small);
    std::vector<std::vector<uint8_t>> taken;
    const std::vector<TReceivedBlock> blocks = TakeAll(queue, taken);
    ASSERT_GE(blocks.size(), 4u);
    std::vector<uint8_t> middle;
    for (size_t i = 1; i + 1 < taken.size(); ++i) {
        middle.insert(middle.end(), taken[i].begin(), taken[i].end());
        EXPECT_EQ(blocks[i].Ms, blocks[1].Ms);
    }
    EXPECT_EQ(middle, big);
    EXPECT_EQ(taken.front(), std::vector<uint8_t>(small, small + 3));
    EXPECT_EQ(taken.back(), std::vector<uint8_t>(small, small + 3));
}

} // namespace

namespace {

TEST(ReceQueue, PaneFedFromTheQueueMissesNoByte) {
    // The window's road: worker pushes, the user-interface thread feeds the
    // store per wake-up. The result must equal feeding every byte at once.
    TReceiveQueue queue;
    TReceiveStore fed;
    size_t blocks = 0;
    QObject::connect(&queue, &TReceiveQueue::Ready, [&] {
        TReceivedBlock block;
        while (queue.Peek(block)) {
            fed.Receive(block.Bytes, block.Size);
            queue.Pop();
            ++blocks;
        }
    });
    std::vector<uint8_t> all;
    for (int i = 0; i < 5000; ++i)
        for (int n = 0; n < i % 37; ++n)
            all.push_back(uint8_t(i * 31 + n));
    std::thread worker([&] {
        size_t at = 0;
        for (int i = 0; i < 5000; ++i) {
            queue.Push(all.data() + at, size_t(i % 37));
            at += size_t(i % 37);
        }
    });
    const bool done = QTest::qWaitFor([&] { return blocks == 5000; }, 20000);
    worker.join();
    ASSERT_TRUE(done) << blocks;
    TReceiveStore whole;
    whole.Receive(all.data(), all.size());
    EXPECT_EQ(fed.LineCount(), int64_t((all.size() + 15) / 16));
    EXPECT_EQ(fed.AllText(), whole.AllText());
}

} // namespace
