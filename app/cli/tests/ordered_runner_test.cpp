#include "app/cli/ordered_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

namespace korvanel::cli {
namespace {

using std::chrono::milliseconds;

auto Never() {
  return [] { return false; };
}
auto NoTick() {
  return [] {};
}

TEST(RunInOrder, HandsResultsBackInIndexOrderWhateverFinishesFirst) {
  for (int workers : {1, 4, 16}) {
    SCOPED_TRACE(workers);
    constexpr std::size_t kCount = 200;
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0};
    std::vector<std::size_t> order;
    std::set<int> workerIds;
    std::mutex idsMutex;
    const std::size_t delivered = RunInOrder<std::size_t>(
        kCount, workers,
        [&](std::size_t index, int worker) {
          const int now = ++inFlight;
          int seen = mostInFlight.load();
          while (now > seen && !mostInFlight.compare_exchange_weak(seen, now)) {
          }
          {
            std::lock_guard lock(idsMutex);
            workerIds.insert(worker);
          }
          // Later jobs often finish before earlier ones.
          std::this_thread::sleep_for(std::chrono::microseconds((index * 7919) % 900));
          --inFlight;
          return index * 10;
        },
        [&](std::size_t index, std::size_t result) {
          EXPECT_EQ(result, index * 10);
          order.push_back(index);
          return true;
        },
        Never(), NoTick(), milliseconds(50));
    EXPECT_EQ(delivered, kCount);
    ASSERT_EQ(order.size(), kCount);
    for (std::size_t i = 0; i < kCount; ++i) EXPECT_EQ(order[i], i);
    EXPECT_LE(mostInFlight.load(), workers);
    EXPECT_LE(*workerIds.rbegin(), workers - 1);
    if (workers > 1) {
      EXPECT_GT(mostInFlight.load(), 1);
    }
  }
}

TEST(RunInOrder, AStopLetsStartedJobsFinishAndDeliversExactlyThem) {
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> started{0};
  std::vector<std::size_t> order;
  const std::size_t delivered = RunInOrder<std::size_t>(
      1000, 4,
      [&](std::size_t index, int) {
        ++started;
        if (index == 10) stop = true;
        std::this_thread::sleep_for(milliseconds(index % 3));
        return index;
      },
      [&](std::size_t index, std::size_t) {
        order.push_back(index);
        return true;
      },
      [&] { return stop.load(); }, NoTick(), milliseconds(50));
  EXPECT_EQ(delivered, started.load());
  EXPECT_GE(delivered, 11u);
  EXPECT_LT(delivered, 20u);
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
}

TEST(RunInOrder, ASinkThatSaysNoStopsNewJobs) {
  // Jobs after the sixth hold their worker until the run has taken in the sink's no (the
  // tick after it comes from the waiting that follows), so whatever the scheduler does, the
  // jobs started are the six and at most one held by each of the two workers.
  std::atomic<std::size_t> started{0};
  std::mutex mutex;
  std::condition_variable released;
  bool no = false;
  bool go = false;
  const std::size_t delivered = RunInOrder<int>(
      1000, 2,
      [&](std::size_t index, int) {
        ++started;
        if (index > 5) {
          std::unique_lock lock(mutex);
          released.wait_for(lock, std::chrono::seconds(30), [&] { return go; });
        }
        return 0;
      },
      [&](std::size_t index, int) {
        std::lock_guard lock(mutex);
        no = index >= 5;
        return !no;
      },
      Never(),
      [&] {
        std::lock_guard lock(mutex);
        go = no;
        released.notify_all();
      },
      milliseconds(10));
  EXPECT_GE(started.load(), 6u);
  EXPECT_LE(started.load(), 8u);
  EXPECT_EQ(delivered, started.load());
}

TEST(RunInOrder, ATaskExceptionReachesTheCallerAfterTheWorkersEnd) {
  std::vector<std::size_t> order;
  EXPECT_THROW(RunInOrder<int>(
                   100, 3,
                   [&](std::size_t index, int) {
                     if (index == 7) throw std::runtime_error("broken");
                     return 0;
                   },
                   [&](std::size_t index, int) {
                     order.push_back(index);
                     return true;
                   },
                   Never(), NoTick(), milliseconds(50)),
               std::runtime_error);
  ASSERT_LE(order.size(), 7u);
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
}

TEST(RunInOrder, TicksWhileAJobIsSlowAndCopesWithNoJobs) {
  int ticks = 0;
  RunInOrder<int>(
      1, 1,
      [](std::size_t, int) {
        std::this_thread::sleep_for(milliseconds(120));
        return 0;
      },
      [](std::size_t, int) { return true; }, Never(), [&] { ++ticks; }, milliseconds(10));
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(RunInOrder<int>(
                0, 4, [](std::size_t, int) { return 0; }, [](std::size_t, int) { return true; },
                Never(), NoTick(), milliseconds(10)),
            0u);
}

}  // namespace
}  // namespace korvanel::cli
