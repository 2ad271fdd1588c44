#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "tools/ordered_jobs.hpp"

TEST(OrderedJobs, ItemsFinishedOutOfOrderAreTakenInOrder)
{
    // Every third item waits until the two after it are made, so items finish out of order.
    constexpr std::uint64_t count = 40;
    std::mutex mutex;
    std::condition_variable made_one;
    std::vector<bool> made(count, false);
    std::vector<std::uint64_t> finish_order;
    std::vector<std::atomic<int>> busy(3);
    bool worker_shared = false;
    bool waited_in_vain = false;

    std::vector<std::uint64_t> taken;
    run_in_order<std::uint64_t>(
        count, 3, 6,
        [&](unsigned worker, std::uint64_t i) {
            if (busy.at(worker).fetch_add(1) != 0) worker_shared = true;
            if (i % 3 == 0) {
                std::unique_lock<std::mutex> lock(mutex);
                const std::uint64_t last = std::min(i + 2, count - 1);
                if (!made_one.wait_for(lock, std::chrono::seconds(20), [&] {
                        return std::all_of(made.begin() + static_cast<long>(i) + 1,
                                           made.begin() + static_cast<long>(last) + 1, [](bool b) { return b; });
                    }))
                    waited_in_vain = true;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                made[i] = true;
                finish_order.push_back(i);
            }
            made_one.notify_all();
            busy[worker].fetch_sub(1);
            return i * 10;
        },
        [&](std::uint64_t item) {
            taken.push_back(item);
            return true;
        });

    std::vector<std::uint64_t> expected(count);
    for (std::uint64_t i = 0; i < count; ++i) expected[i] = i * 10;
    EXPECT_EQ(taken, expected);
    EXPECT_FALSE(waited_in_vain);
    EXPECT_FALSE(worker_shared) << "two items made at once with one worker's scratch";
    ASSERT_EQ(finish_order.size(), count);
    EXPECT_FALSE(std::is_sorted(finish_order.begin(), finish_order.end()));
}

TEST(OrderedJobs, NoMoreItemsInFlightThanTheWindow)
{
    // A slow taker: without the window the workers would make every item ahead of it.
    std::atomic<int> in_flight{0};
    std::atomic<int> most{0};
    std::uint64_t taken = 0;
    run_in_order<int>(
        200, 4, 5,
        [&](unsigned, std::uint64_t) {
            const int now = ++in_flight;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            return 0;
        },
        [&](int) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            --in_flight;
            ++taken;
            return true;
        });
    EXPECT_EQ(taken, 200u);
    EXPECT_LE(most.load(), 5);
    EXPECT_GE(most.load(), 2);  // the workers did run ahead of the taker
}

TEST(OrderedJobs, AFalseTakeEndsTheRun)
{
    std::atomic<std::uint64_t> made{0};
    std::atomic<std::uint64_t> highest{0};
    std::vector<std::uint64_t> taken;
    run_in_order<std::uint64_t>(
        1000, 2, 4,
        [&](unsigned, std::uint64_t i) {
            ++made;
            std::uint64_t seen = highest.load();
            while (i > seen && !highest.compare_exchange_weak(seen, i)) {
            }
            return i;
        },
        [&](std::uint64_t i) {
            taken.push_back(i);
            return i < 10;  // item 10 is the last taken
        });
    std::vector<std::uint64_t> expected(11);
    std::iota(expected.begin(), expected.end(), 0u);
    EXPECT_EQ(taken, expected);
    EXPECT_LE(highest.load(), 10u + 4u);  // nothing started beyond the window of the last taken
    EXPECT_LE(made.load(), 11u + 4u);

    std::uint64_t calls = 0;
    run_in_order<int>(0, 3, 6, [&](unsigned, std::uint64_t) { return ++calls, 0; },
                      [&](int) { return ++calls, true; });
    EXPECT_EQ(calls, 0u);
}
