#include "port/CByteQueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(ByteQueue, HoldsAtMost4095BytesAndWraps)
{
    CByteQueue q;
    EXPECT_TRUE(q.IsEmpty());
    for (int i = 0; i < 4095; ++i)
        ASSERT_TRUE(q.TryPush(static_cast<std::uint8_t>(i)));
    EXPECT_EQ(q.Count(), 4095);
    EXPECT_TRUE(q.IsFull());
    // The 4096th byte would make head == tail, i.e. an empty-looking ring.
    EXPECT_FALSE(q.TryPush(0xAA));
    EXPECT_EQ(q.Count(), 4095);

    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(q.Pop(), static_cast<std::uint8_t>(i));
    // Across the end of the storage, order is kept.
    for (int i = 0; i < 100; ++i)
        q.Push(static_cast<std::uint8_t>(0xF0 ^ i));
    EXPECT_EQ(q.Count(), 4095);
    for (int i = 100; i < 4095; ++i)
        ASSERT_EQ(q.Pop(), static_cast<std::uint8_t>(i));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(q.Pop(), static_cast<std::uint8_t>(0xF0 ^ i));
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(q.Count(), 0);
}

TEST(ByteQueue, UncheckedPushIntoFullRingLooksEmpty)
{
    // This is why producers check Count() first: Push itself does not.
    CByteQueue q;
    for (int i = 0; i < 4096; ++i)
        q.Push(1);
    EXPECT_TRUE(q.IsEmpty());
}

TEST(ByteQueue, ClearEmptiesTheRing)
{
    CByteQueue q;
    for (int i = 0; i < 10; ++i)
        q.Push(7);
    q.Clear();
    EXPECT_TRUE(q.IsEmpty());
    q.Push(9);
    EXPECT_EQ(q.Count(), 1);
    EXPECT_EQ(q.Pop(), 9);
}

TEST(ByteQueue, OneProducerOneConsumerKeepEveryByteInOrder)
{
    CByteQueue q;
    constexpr int kBytes = 200000;
    std::thread producer([&] {
        for (int i = 0; i < kBytes;) {
            if (q.TryPush(static_cast<std::uint8_t>(i * 7)))
                ++i;
            else
                std::this_thread::yield();
        }
    });
    int mismatches = 0;
    for (int i = 0; i < kBytes;) {
        if (q.IsEmpty()) {
            std::this_thread::yield();
            continue;
        }
        if (q.Pop() != static_cast<std::uint8_t>(i * 7))
            ++mismatches;
        ++i;
    }
    producer.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_TRUE(q.IsEmpty());
}
