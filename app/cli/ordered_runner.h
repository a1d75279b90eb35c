// Runs numbered jobs on worker threads and hands their results back in number order.
//
// Jobs are taken strictly in order, so whenever the run stops early the results handed back
// are those of a prefix of the jobs: exactly the ones that were started, each finished.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace korvanel::cli {

// task(index, worker) runs on a worker thread (worker counts from 0) and returns the result
// of job index. sink(index, result) runs on the calling thread, in index order, and returns
// false to stop the run. stop() is asked before every new job is started; once it says true
// no job is started, the jobs under way finish and are handed to the sink. The sink's false
// is taken in once the sink has returned, so a worker may start a job meanwhile; a caller
// that must stop at once also makes stop() say true before its sink returns. tick() runs on
// the calling thread at least once per tickInterval while it waits. Returns the number of
// results handed to the sink. An exception from a task stops the run and is rethrown here
// once every worker has ended.
template <class Result, class Task, class Sink, class Stop, class Tick>
std::size_t RunInOrder(std::size_t count, int workers, Task task, Sink sink, Stop stop, Tick tick,
                       std::chrono::milliseconds tickInterval) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::optional<Result>> slots(count);
  std::size_t next = 0;
  bool halted = false;
  int running = 0;
  std::exception_ptr failure;

  auto work = [&](int worker) {
    std::unique_lock lock(mutex);
    for (;;) {
      if (halted || next >= count) break;
      lock.unlock();
      const bool stopNow = stop();
      lock.lock();
      if (stopNow) halted = true;
      if (halted || next >= count) break;
      const std::size_t index = next++;
      lock.unlock();
      std::optional<Result> result;
      try {
        result.emplace(task(index, worker));
      } catch (...) {
        lock.lock();
        if (!failure) failure = std::current_exception();
        halted = true;
        break;
      }
      lock.lock();
      slots[index] = std::move(result);
      changed.notify_all();
    }
    --running;
    changed.notify_all();
  };

  if (workers < 1) workers = 1;
  const std::size_t threadCount = std::min<std::size_t>(static_cast<std::size_t>(workers), count);
  std::vector<std::thread> threads;
  threads.reserve(threadCount);
  // Whatever happens on this thread, the workers are told to stop and are waited for.
  struct Joiner {
    std::vector<std::thread>& threads;
    std::mutex& mutex;
    bool& halted;
    void Join() {
      {
        std::lock_guard lock(mutex);
        halted = true;
      }
      for (auto& thread : threads) {
        if (thread.joinable()) thread.join();
      }
    }
    ~Joiner() { Join(); }
  } joiner{threads, mutex, halted};
  {
    std::lock_guard lock(mutex);
    running = static_cast<int>(threadCount);
  }
  for (std::size_t i = 0; i < threadCount; ++i) threads.emplace_back(work, static_cast<int>(i));

  std::size_t delivered = 0;
  {
    std::unique_lock lock(mutex);
    while (delivered < count) {
      if (slots[delivered]) {
        Result result = std::move(*slots[delivered]);
        slots[delivered].reset();
        lock.unlock();
        const bool goOn = sink(delivered, std::move(result));
        lock.lock();
        ++delivered;
        if (!goOn) halted = true;
        continue;
      }
      // Nothing more can arrive for this slot once its job was never started, or failed.
      auto over = [&] { return failure || (delivered >= next && (halted || running == 0)); };
      if (over()) break;
      if (!changed.wait_for(lock, tickInterval,
                            [&] { return slots[delivered].has_value() || over(); })) {
        lock.unlock();
        tick();
        lock.lock();
      }
    }
  }
  joiner.Join();
  if (failure) std::rethrow_exception(failure);
  return delivered;
}

}  // namespace korvanel::cli
