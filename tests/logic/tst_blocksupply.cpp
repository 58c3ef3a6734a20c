#include "BlockSupply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using blocksupply::BlockBytes;
using blocksupply::TBytes;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 31 + (i >> 9));
    return v;
}

bool Holds(const TBytes& b, const std::vector<uint8_t>& v) {
    return b.size() == v.size() && (v.empty() || std::memcmp(b.data(), v.data(), v.size()) == 0);
}

TEST(BlockSupply, BytesGrowCopyAndShrinkLikeAVector) {
    const auto data = Pattern(BlockBytes, 5);
    TBytes b;
    EXPECT_EQ(b.size(), 0u);
    b.shrink_to_fit(); // nothing to free
    // A block's worth in pieces of every size, then one byte past it.
    for (size_t at = 0, n = 1; at < data.size(); at += n, n = n * 3 % 4093 + 1)
        b.append(data.data() + at, std::min(n, data.size() - at));
    EXPECT_TRUE(Holds(b, data));
    b.resize(BlockBytes + 16);
    EXPECT_EQ(b.data()[BlockBytes], 0);
    EXPECT_EQ(b.data()[BlockBytes + 15], 0);
    b.resize(100);
    EXPECT_TRUE(Holds(b, std::vector<uint8_t>(data.begin(), data.begin() + 100)));
    b.shrink_to_fit();
    EXPECT_EQ(b.capacity(), 100u);

    // A block reserved whole comes from the supply; copies and shrinking keep the bytes.
    TBytes full;
    full.reserve(BlockBytes);
    EXPECT_EQ(full.capacity(), BlockBytes);
    full.append(data.data(), data.size());
    const TBytes copy(full);
    EXPECT_TRUE(Holds(copy, data));
    TBytes part;
    part.reserve(BlockBytes);
    part.append(data.data(), 1000);
    part.shrink_to_fit();
    EXPECT_EQ(part.capacity(), 1000u);
    EXPECT_TRUE(Holds(part, std::vector<uint8_t>(data.begin(), data.begin() + 1000)));
    TBytes emptied;
    emptied.reserve(BlockBytes);
    emptied.shrink_to_fit();
    EXPECT_EQ(emptied.capacity(), 0u);
}

TEST(BlockSupply, KeepsBlocksReadyZeroedAndTakenFromAnyThread) {
    blocksupply::Release(blocksupply::Take()); // starts the supply
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (blocksupply::Ready() < blocksupply::ReadyBlocks &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(blocksupply::Ready(), blocksupply::ReadyBlocks);
    const size_t before = blocksupply::TakenReady();
    void* ready = blocksupply::Take();
    EXPECT_EQ(blocksupply::TakenReady(), before + 1);
    const auto* bytes = static_cast<const uint8_t*>(ready);
    EXPECT_TRUE(std::all_of(bytes, bytes + BlockBytes, [](uint8_t b) { return b == 0; }));
    blocksupply::Release(ready);

    // Threads taking more than are ready each get blocks of their own.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            std::vector<TBytes> blocks(8);
            for (size_t i = 0; i < blocks.size(); ++i) {
                blocks[i].reserve(BlockBytes);
                const auto data = Pattern(BlockBytes, uint8_t(t * 8 + i));
                blocks[i].append(data.data(), data.size());
            }
            for (size_t i = 0; i < blocks.size(); ++i)
                EXPECT_TRUE(Holds(blocks[i], Pattern(BlockBytes, uint8_t(t * 8 + i))));
        });
    for (auto& thread : threads)
        thread.join();
}

// Objects packed into blocks, released on other threads in any order: each keeps its bytes, and
// a block goes back only once its last object and its packer have let go of it.
TEST(BlockSupply, PackedObjectsShareBlocksUntilTheLastGoes) {
    struct TObject {
        uint8_t Bytes[30000];
    };
    const size_t before = blocksupply::Mapped();
    std::vector<std::shared_ptr<TObject>> objects;
    {
        blocksupply::TPacker packer(sizeof(TObject) + 64);
        for (int i = 0; i < 20; ++i) {
            objects.push_back(
                std::allocate_shared<TObject>(blocksupply::TPackedAllocator<TObject>(packer)));
            std::memset(objects.back()->Bytes, i, sizeof(TObject));
        }
        EXPECT_EQ(blocksupply::Mapped(), before + 3);        // eight in a block
        objects.erase(objects.begin(), objects.begin() + 8); // the first block's
        EXPECT_EQ(blocksupply::Mapped(), before + 2);
    }
    EXPECT_EQ(blocksupply::Mapped(), before + 2); // the packer's last block holds four more
    std::thread([&] {
        for (size_t i = objects.size(); i-- > 0;) {
            EXPECT_TRUE(std::all_of(objects[i]->Bytes, objects[i]->Bytes + sizeof(TObject),
                                    [&](uint8_t b) { return b == uint8_t(i + 8); }));
            objects[i].reset();
        }
    }).join();
    EXPECT_EQ(blocksupply::Mapped(), before);
}

} // namespace
