#include "tools/eval_pool.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

void run_jobs(std::size_t count, int threads, const std::function<JobRunner()>& make_runner,
              const std::function<void(std::size_t, std::size_t)>& progress)
{
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    std::mutex failure_mutex;
    const auto work = [&] {
        try {
            const JobRunner run = make_runner();
            for (std::size_t i = next++; i < count && !failed; i = next++) {
                run(i);
                ++done;
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failure_mutex);
            if (!failure) failure = std::current_exception();
            failed = true;
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < std::max(1, threads); ++t) workers.emplace_back(work);
    while (progress && done < count && !failed) {
        progress(done, count);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (std::thread& worker : workers) worker.join();
    if (failure) std::rethrow_exception(failure);
    if (progress) progress(done, count);
}
