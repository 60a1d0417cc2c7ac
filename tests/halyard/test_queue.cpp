#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "hlyqueue.h"
#include "hlythreads.h"
#include "../testsupport.h"

using namespace testsupport;

namespace {
} // namespace

TEST(Queue, ItemsComeOutInOrderAndPeekLeavesTheHead)
{
    HLY_Queue<int> queue;
    int            values[3] = {10, 20, 30};
    for (int& v : values) ASSERT_EQ(queue.Push(&v, 0), HLY_SUCCESS) << "unbounded: never full";

    int* item = nullptr;
    ASSERT_EQ(queue.Peek(item, 0), HLY_SUCCESS);
    EXPECT_EQ(item, &values[0]);
    ASSERT_EQ(queue.Peek(item, HLY_TIMEOUT_INFINITE), HLY_SUCCESS);
    EXPECT_EQ(item, &values[0]);
    for (int& v : values) {
        ASSERT_EQ(queue.Pop(item, 0), HLY_SUCCESS);
        EXPECT_EQ(item, &v);
    }
    EXPECT_EQ(queue.Pop(item, 0), HLY_ERROR_LIST_EMPTY);
    EXPECT_EQ(item, nullptr);
}

TEST(Queue, EmptyQueueTimeouts)
{
    HLY_Queue<int> queue(3);
    int            sentinel = 0;
    int*           item     = &sentinel;
    EXPECT_EQ(queue.Pop(item, 0), HLY_ERROR_LIST_EMPTY);
    EXPECT_EQ(item, nullptr);
    item = &sentinel;
    EXPECT_EQ(queue.Peek(item, 0), HLY_ERROR_LIST_EMPTY);
    EXPECT_EQ(item, nullptr);

    auto start = Clock::now();
    EXPECT_EQ(queue.Pop(item, 100), HLY_ERROR_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 90);
    start = Clock::now();
    EXPECT_EQ(queue.Peek(item, 50), HLY_ERROR_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 40);
}

TEST(Queue, PushOnAFullQueueTimesOutAndLeavesItUnchanged)
{
    HLY_Queue<int> queue(1);
    int            first = 1, second = 2;
    ASSERT_EQ(queue.Push(&first, 0), HLY_SUCCESS);
    auto start = Clock::now();
    EXPECT_EQ(queue.Push(&second, 0), HLY_ERROR_TIMEOUT);
    EXPECT_LT(ElapsedMs(start), 1000);
    start = Clock::now();
    EXPECT_EQ(queue.Push(&second, 60), HLY_ERROR_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 50);

    int* item = nullptr;
    ASSERT_EQ(queue.Pop(item, 0), HLY_SUCCESS);
    EXPECT_EQ(item, &first);
    EXPECT_EQ(queue.Pop(item, 0), HLY_ERROR_LIST_EMPTY) << "the refused item was not queued";
    EXPECT_EQ(queue.Push(&second, 0), HLY_SUCCESS) << "a pop makes room again";
}

TEST(Queue, BlockedCallsAreReleasedByTheOtherSide)
{
    HLY_Queue<int> queue(1);
    int            a = 1, b = 2;
    ASSERT_EQ(queue.Push(&a, 0), HLY_SUCCESS);

    std::atomic<bool> pushed{false};
    std::thread pusher([&] {
        if (queue.Push(&b, HLY_TIMEOUT_INFINITE) == HLY_SUCCESS) pushed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(pushed) << "the queue is full";
    int* item = nullptr;
    ASSERT_EQ(queue.Pop(item, 0), HLY_SUCCESS);
    EXPECT_EQ(item, &a);
    pusher.join();
    EXPECT_TRUE(pushed);

    ASSERT_EQ(queue.Pop(item, 0), HLY_SUCCESS);
    EXPECT_EQ(item, &b);
    std::atomic<int*> popped{nullptr};
    std::thread popper([&] {
        int* got = nullptr;
        if (queue.Pop(got, 5000) == HLY_SUCCESS) popped = got;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(popped, nullptr);
    ASSERT_EQ(queue.Push(&a, 0), HLY_SUCCESS);
    popper.join();
    EXPECT_EQ(popped, &a);
}

TEST(Queue, ABoundedQueueUnderManyProducersAndConsumersLosesAndDuplicatesNothing)
{
    const int producers = 3, consumers = 3, per_producer = 2000, bound = 4;
    const int total     = producers * per_producer;
    HLY_Queue<int> queue(bound);
    std::vector<int>              items(total);
    std::vector<std::atomic<int>> seen(total);
    for (int i = 0; i < total; ++i) {
        items[i] = i;
        seen[i]  = 0;
    }
    int              stop_marker = -1;
    std::atomic<int> failures{0};

    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < per_producer; ++i) {
                if (queue.Push(&items[p * per_producer + i], 10000) != HLY_SUCCESS) failures++;
            }
        });
    }
    for (int c = 0; c < consumers; ++c) {
        threads.emplace_back([&] {
            for (;;) {
                int* item = nullptr;
                if (queue.Pop(item, 10000) != HLY_SUCCESS || item == nullptr) {
                    failures++;
                    return;
                }
                if (item == &stop_marker) return;
                seen[*item]++;
            }
        });
    }
    for (int p = 0; p < producers; ++p) threads[p].join();
    for (int c = 0; c < consumers; ++c) ASSERT_EQ(queue.Push(&stop_marker, 10000), HLY_SUCCESS);
    for (int c = 0; c < consumers; ++c) threads[producers + c].join();

    EXPECT_EQ(failures, 0);
    int missing = 0, duplicated = 0;
    for (auto& s : seen) {
        if (s == 0) missing++;
        if (s > 1) duplicated++;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(duplicated, 0);
    int* item = nullptr;
    EXPECT_EQ(queue.Pop(item, 0), HLY_ERROR_LIST_EMPTY);
}
