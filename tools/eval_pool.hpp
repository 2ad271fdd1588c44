// The workers of an evaluation: numbered jobs spread over threads, each thread with its own state.
#pragma once

#include <cstddef>
#include <functional>

// A worker's job runner, made once per thread (so that it can hold the thread's own scratch
// space): called with the number of each job the thread takes.
using JobRunner = std::function<void(std::size_t job)>;

// Runs jobs 0..count-1 on `threads` workers (at least one), each made by make_runner on its own
// thread. `progress` (may be empty) is called on the calling thread now and then with the number
// done and the count. The first exception of a job stops the others taking new jobs and is
// thrown again here once every worker has finished.
void run_jobs(std::size_t count, int threads, const std::function<JobRunner()>& make_runner,
              const std::function<void(std::size_t, std::size_t)>& progress);
