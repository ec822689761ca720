// The machine itself: its one lock, the record of each thread that calls in,
// starting afresh (Reset) and waiting until every simulated thread is idle.
#include "platform/sim/machine.h"

#include <cstdlib>
#include <cstring>

namespace sim::detail {

namespace {

// The calling thread's record. A thread the machine did not start gets one on
// its first call; when such a thread ends, it ends in the machine too.
struct ThreadSlot {
  ThreadPtr record;
  std::uint64_t generation = 0;

  ~ThreadSlot() {
    if (record == nullptr || record->simulated) return;
    auto lock = Lock();
    if (generation == S().generation && !record->ended) EndThread(*record, 0);
  }
};

thread_local ThreadSlot slot;

// A thread is quiet when nothing it has been given can make it run: this is
// read from the queues, not from what the thread last said about itself, so a
// thread that has been given work but has not woken yet is not quiet.
bool IsQuiet(const ThreadRecord& thread) {
  if (thread.ended) return true;
  switch (thread.blocked) {
    case Blocked::GetMessage:
      return !HasMessage(thread);
    case Blocked::AlertableSleep:
      return thread.queued_calls.empty();
    case Blocked::Wait:
      return !WaitSatisfied(thread);
    case Blocked::Forever:
      return true;
    case Blocked::No:
    case Blocked::TimedSleep:
      return false;
  }
  return false;
}

ThreadPtr CallerIfKnown() {
  if (slot.record != nullptr && slot.generation == S().generation) return slot.record;
  return nullptr;
}

}  // namespace

std::vector<std::thread> TakeEndedThreads() {
  std::vector<std::thread> ended;
  for (const ThreadPtr& thread : S().threads) {
    if (thread->ended && thread->thread.joinable()) ended.push_back(std::move(thread->thread));
  }
  std::erase_if(S().threads, [](const ThreadPtr& thread) { return thread->ended; });
  return ended;
}

void CallCounts::Add(std::string_view operation) {
  ++counts.try_emplace(operation.data(), operation, 0).first->second.second;
}

int CallCounts::Of(std::string_view operation) const {
  int total = 0;
  for (const auto& [address, entry] : counts) {
    if (entry.first == operation) total += entry.second;
  }
  return total;
}

bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

Machine& TheMachine() {
  // Never destroyed: threads of the test program may still call in during exit.
  static Machine* machine = new Machine;
  return *machine;
}

std::unique_lock<std::mutex> Lock() {
  return std::unique_lock<std::mutex>(TheMachine().mutex);
}

std::unique_lock<std::mutex> Enter(std::string_view operation) {
  auto lock = Lock();
  S().calls.Add(operation);
  return lock;
}

ThreadPtr CurrentThread() {
  State& state = S();
  if (slot.record == nullptr || slot.generation != state.generation) {
    auto record = std::make_shared<ThreadRecord>();
    record->id = state.next_thread_id;
    state.next_thread_id += 4;
    state.threads.push_back(record);
    slot.record = record;
    slot.generation = state.generation;
  }
  return slot.record;
}

void BindCurrentThread(const ThreadPtr& record, std::uint64_t generation) {
  slot.record = record;
  slot.generation = generation;
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

void Reset() {
  std::vector<std::thread> ended;
  std::vector<std::thread> orphaned;
  State old;
  {
    auto lock = Lock();
    State& state = S();
    ended = TakeEndedThreads();
    // Threads still blocked after a failed test stay blocked for good; they
    // are let go rather than joined, so the next test can start.
    for (const ThreadPtr& thread : state.threads) {
      if (thread->thread.joinable()) orphaned.push_back(std::move(thread->thread));
    }
    FreeAllBlocks(state);
    State fresh;
    fresh.generation = state.generation + 1;
    old = std::move(state);
    state = std::move(fresh);
  }
  for (std::thread& thread : ended) thread.join();
  for (std::thread& thread : orphaned) thread.detach();
}

void WaitQuiet() {
  std::vector<std::thread> ended;
  {
    auto lock = Lock();
    const ThreadPtr caller = CallerIfKnown();
    TheMachine().changed.wait(lock, [&] {
      for (const ThreadPtr& thread : S().threads) {
        if (thread != caller && thread->simulated && !IsQuiet(*thread)) return false;
      }
      return true;
    });
    ended = TakeEndedThreads();
  }
  for (std::thread& thread : ended) thread.join();
}

}  // namespace sim
