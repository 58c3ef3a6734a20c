#include "Recequeue.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(ReceQueue, KeepsOrderAndBlockBoundariesAcrossThreads) {
    TReceQueue queue;
    std::vector<std::vector<uint8_t>> received;
    QElapsedTimer sinceReady;
    qint64 shortestGap = 1 << 30;
    int readies = 0;
    QObject::connect(&queue, &TReceQueue::Ready, [&] {
        if (sinceReady.isValid())
            shortestGap = std::min(shortestGap, sinceReady.elapsed());
        sinceReady.start();
        ++readies;
        const TReceBatch batch = queue.TakeAll();
        for (size_t i = 0; i < batch.BlockCount(); ++i)
            received.emplace_back(batch.Block(i), batch.Block(i) + batch.BlockSize(i));
    });

    // Block i holds i % 50 bytes (some empty), counting on from the last byte.
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
    // Wake-ups are spaced by at least a frame.
    if (readies > 1) {
        EXPECT_GE(shortestGap, TReceQueue::FrameMs - 1);
    }
}

TEST(ReceQueue, BlocksPushedAfterATakeWakeTheWindowAgain) {
    TReceQueue queue;
    int readies = 0;
    QObject::connect(&queue, &TReceQueue::Ready, [&] { ++readies; });
    const uint8_t byte = 0xFF;
    queue.Push(&byte, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readies == 1; }, 2000));
    EXPECT_EQ(queue.TakeAll().Bytes, std::vector<uint8_t>{0xFF});
    queue.Push(nullptr, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readies == 2; }, 2000));
    const TReceBatch batch = queue.TakeAll();
    EXPECT_EQ(batch.BlockCount(), 1u);
    EXPECT_EQ(batch.BlockSize(0), 0u);
}

} // namespace
