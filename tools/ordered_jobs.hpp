// Items made on several threads and taken in their order, with a bounded number in flight.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <signal.h>

// Makes items 0 .. count - 1 with make(worker, i) on `workers` threads (worker = 0 .. workers - 1,
// so that each worker can keep its own scratch space), and hands each to take(std::move(item))
// on the calling thread, in index order, whatever order they were made in. At most `window`
// items exist at any time (being made, made and waiting, or held by take; window >= workers), so
// memory stays bounded however long the run. take returns false to end the run: no item is started after that, the
// ones in flight are finished and dropped, and run_in_order returns once every worker has ended.
// SIGINT and SIGTERM are blocked in the workers, so that they reach the calling thread (and
// interrupt a write it is waiting in).
template <typename Item, typename Make, typename Take>
void run_in_order(std::uint64_t count, unsigned workers, std::uint64_t window, Make make, Take take)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Item>> slots(window);  // item i in slot i % window
    std::uint64_t next_start = 0;  // the next item a worker takes up
    std::uint64_t next_take = 0;   // the next item handed to take
    bool ending = false;

    const auto work = [&](unsigned worker) {
        for (;;) {
            std::uint64_t i = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return ending || next_start >= count || next_start < next_take + window; });
                if (ending || next_start >= count) return;
                i = next_start++;
            }
            Item item = make(worker, i);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                slots[i % window] = std::move(item);
            }
            changed.notify_all();
        }
    };

    sigset_t stop_signals;
    sigset_t previous;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
    std::vector<std::thread> threads;
    for (unsigned worker = 0; worker < workers; ++worker) threads.emplace_back(work, worker);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    while (next_take < count) {  // only this thread changes next_take
        std::optional<Item> item;
        {
            std::unique_lock<std::mutex> lock(mutex);
            std::optional<Item>& slot = slots[next_take % window];
            changed.wait(lock, [&] { return slot.has_value(); });
            item.swap(slot);
        }
        const bool more = take(std::move(*item));
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++next_take;  // lets a worker start item next_take - 1 + window
            ending = !more;
        }
        changed.notify_all();
        if (!more) break;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads) thread.join();
}
