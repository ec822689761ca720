// Threads, waits, APCs and quiescence of the simulated Windows.
#include <atomic>
#include <cstdint>
#include <vector>

#include "support/sim_fixture.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

// Sleeps alertably until an APC tells it to stop; returns how many waits ended.
struct Sleeper {
  std::atomic<bool> stop{false};
  std::atomic<int> woken{0};
  std::atomic<int> apcs{0};
  std::atomic<ULONG_PTR> last_data{0};
};

void CALLBACK CountApc(ULONG_PTR data) {
  auto* sleeper = reinterpret_cast<Sleeper*>(data);
  sleeper->apcs.fetch_add(1);
}

void CALLBACK StopApc(ULONG_PTR data) {
  reinterpret_cast<Sleeper*>(data)->stop = true;
}

DWORD WINAPI SleeperThread(LPVOID parameter) {
  auto* sleeper = static_cast<Sleeper*>(parameter);
  while (!sleeper->stop) {
    if (SleepEx(INFINITE, TRUE) == WAIT_IO_COMPLETION) sleeper->woken.fetch_add(1);
  }
  return 5;
}

DWORD WINAPI ReturnParameter(LPVOID parameter) {
  return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter));
}

DWORD WINAPI ExitWithParameter(LPVOID parameter) {
  ExitThread(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter)));
}

class ThreadsTest : public SimTest {
 protected:
  static HANDLE Start(LPTHREAD_START_ROUTINE routine, void* parameter) {
    return CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
  }

  static void Stop(HANDLE thread, Sleeper& sleeper) {
    ASSERT_NE(QueueUserAPC(StopApc, thread, reinterpret_cast<ULONG_PTR>(&sleeper)), 0u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
  }
};

TEST_F(ThreadsTest, ExitCodeComesFromReturnOrExitThread) {
  struct Row {
    LPTHREAD_START_ROUTINE routine;
    DWORD code;
  };
  const Row rows[] = {
      {ReturnParameter, 0}, {ReturnParameter, 42}, {ExitWithParameter, 0}, {ExitWithParameter, 7}};
  for (const Row& row : rows) {
    DWORD id = 0;
    HANDLE thread =
        CreateThread(nullptr, 0, row.routine, reinterpret_cast<void*>(std::uintptr_t{row.code}), 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = kSentinel;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, row.code);
    EXPECT_TRUE(CloseHandle(thread));
  }
  ExpectNothingHeld();
}

TEST_F(ThreadsTest, RunningThreadIsStillActiveAndItsHandleUnsignalled) {
  Sleeper sleeper;
  HANDLE thread = Start(SleeperThread, &sleeper);
  sim::WaitQuiet();
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  EXPECT_EQ(sim::Held().threads, 1);
  EXPECT_EQ(sim::Held().thread_handles, 1);
  Stop(thread, sleeper);
  EXPECT_EQ(sim::Held().threads, 0);
  ExpectNothingHeld();
}

TEST_F(ThreadsTest, QueueUserApcWakesAnAlertableSleep) {
  Sleeper sleeper;
  HANDLE thread = Start(SleeperThread, &sleeper);
  sim::WaitQuiet();
  EXPECT_EQ(sleeper.woken, 0);
  EXPECT_NE(QueueUserAPC(CountApc, thread, reinterpret_cast<ULONG_PTR>(&sleeper)), 0u);
  sim::WaitQuiet();
  EXPECT_EQ(sleeper.apcs, 1);
  EXPECT_EQ(sleeper.woken, 1);
  Stop(thread, sleeper);

  // An ended thread takes no more APCs; neither does a closed handle.
  HANDLE ended = Start(ReturnParameter, nullptr);
  EXPECT_EQ(WaitForSingleObject(ended, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(QueueUserAPC(CountApc, ended, reinterpret_cast<ULONG_PTR>(&sleeper)), 0u);
  EXPECT_TRUE(CloseHandle(ended));
  SetLastError(kSentinel);
  EXPECT_EQ(QueueUserAPC(CountApc, ended, reinterpret_cast<ULONG_PTR>(&sleeper)), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(sleeper.apcs, 1);
  ExpectNothingHeld();
}

TEST_F(ThreadsTest, WaitForMultipleObjectsAnyAndAll) {
  Sleeper first;
  Sleeper second;
  HANDLE threads[2] = {Start(SleeperThread, &first), Start(SleeperThread, &second)};
  sim::WaitQuiet();
  EXPECT_EQ(WaitForMultipleObjects(2, threads, FALSE, 0), WAIT_TIMEOUT);
  ASSERT_NE(QueueUserAPC(StopApc, threads[1], reinterpret_cast<ULONG_PTR>(&second)), 0u);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 0), WAIT_TIMEOUT);
  ASSERT_NE(QueueUserAPC(StopApc, threads[0], reinterpret_cast<ULONG_PTR>(&first)), 0u);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, FALSE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE thread : threads) EXPECT_TRUE(CloseHandle(thread));
  SetLastError(kSentinel);
  EXPECT_EQ(WaitForSingleObject(threads[0], 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ExpectNothingHeld();
}

// A chain of work across three threads: an APC on the first posts to the
// second's window; the second, on that message, queues an APC to the third.
struct Chain {
  HANDLE third = nullptr;
  HWND second_window = nullptr;
  std::atomic<bool> window_ready{false};
  std::atomic<int> third_apcs{0};
  Sleeper first_sleeper;
  Sleeper third_sleeper;
};
Chain* chain = nullptr;

void CALLBACK ThirdApc(ULONG_PTR) {
  chain->third_apcs.fetch_add(1);
}
void CALLBACK FirstApc(ULONG_PTR) {
  PostMessageA(chain->second_window, WM_USER, 0, 0);
}

LRESULT CALLBACK SecondProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (message == WM_USER) QueueUserAPC(ThirdApc, chain->third, 0);
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, w_param, l_param);
}

DWORD WINAPI SecondThread(LPVOID) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = SecondProc;
  window_class.lpszClassName = "Second";
  RegisterClassA(&window_class);
  chain->second_window =
      CreateWindowExA(0, "Second", "Second", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

TEST_F(ThreadsTest, WaitQuietWaitsForWorkPassedBetweenThreads) {
  Chain work;
  chain = &work;
  HANDLE first = Start(SleeperThread, &work.first_sleeper);
  HANDLE second = Start(SecondThread, nullptr);
  work.third = Start(SleeperThread, &work.third_sleeper);
  sim::WaitQuiet();
  ASSERT_NE(work.second_window, nullptr);
  EXPECT_EQ(sim::Held().threads, 3);
  for (int round = 1; round <= 20; ++round) {
    ASSERT_NE(QueueUserAPC(FirstApc, first, 0), 0u);
    sim::WaitQuiet();
    EXPECT_EQ(work.third_apcs, round);
  }
  sim::DestroyWindowFromSystem(work.second_window);
  EXPECT_EQ(WaitForSingleObject(second, INFINITE), WAIT_OBJECT_0);
  Stop(first, work.first_sleeper);
  Stop(work.third, work.third_sleeper);
  EXPECT_TRUE(CloseHandle(second));
  chain = nullptr;
  ExpectNothingHeld();
}

// Busy for a while before it posts, so a quiet check taken too early would miss the post.
DWORD WINAPI BusyThenPost(LPVOID parameter) {
  for (int i = 0; i < 2000; ++i) LocalFree(LocalAlloc(LPTR, 16));
  PostMessageA(static_cast<HWND>(parameter), WM_USER, 0, 0);
  return 0;
}

TEST_F(ThreadsTest, NewThreadIsNotQuietUntilItBlocksOrEnds) {
  HWND target = sim::CreateForeignWindow("Target", "Title");
  HANDLE threads[4];
  for (HANDLE& thread : threads) thread = Start(BusyThenPost, target);
  sim::WaitQuiet();
  EXPECT_EQ(sim::ReceivedMessages(target).size(), 4u);
  EXPECT_EQ(sim::Held().threads, 0);
  for (HANDLE thread : threads) EXPECT_TRUE(CloseHandle(thread));
  ExpectNothingHeld();
}

TEST_F(ThreadsTest, ForeignPostsReachTheObserverInPostingOrder) {
  HWND target = sim::CreateForeignWindow("Target", "Title");
  std::vector<MSG> observed;
  sim::OnForeignMessage([&](HWND, const MSG& message) { observed.push_back(message); });
  struct Poster {
    static DWORD WINAPI Run(LPVOID parameter) {
      auto* window = static_cast<HWND>(parameter);
      for (WPARAM i = 0; i < 100; ++i)
        PostMessageA(window, WM_USER, GetCurrentThreadId(), static_cast<LPARAM>(i));
      return 0;
    }
  };
  HANDLE threads[3];
  for (HANDLE& thread : threads) thread = Start(Poster::Run, target);
  sim::WaitQuiet();
  const std::vector<MSG> received = sim::ReceivedMessages(target);
  ASSERT_EQ(received.size(), 300u);
  ASSERT_EQ(observed.size(), received.size());
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(observed[i].wParam, received[i].wParam) << i;
    EXPECT_EQ(observed[i].lParam, received[i].lParam) << i;
  }
  sim::OnForeignMessage(nullptr);
  for (HANDLE thread : threads) EXPECT_TRUE(CloseHandle(thread));
  ExpectNothingHeld();
}

DWORD WINAPI CreateWindowAndEnd(LPVOID parameter) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.lpszClassName = "Short";
  RegisterClassA(&window_class);
  *static_cast<HWND*>(parameter) =
      CreateWindowExA(0, "Short", "Lived", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  return 0;
}

TEST_F(ThreadsTest, WindowsEndWithTheirThread) {
  HWND window = nullptr;
  HANDLE thread = Start(CreateWindowAndEnd, &window);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(FindWindowA("Short", "Lived"), nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  ExpectNothingHeld();
}

TEST_F(ThreadsTest, ThreadFaultRefusesCreation) {
  sim::FailNth(sim::Fault::Thread, 2);
  HANDLE first = Start(ReturnParameter, nullptr);
  SetLastError(kSentinel);
  EXPECT_EQ(Start(ReturnParameter, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  HANDLE third = Start(ReturnParameter, nullptr);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(sim::FaultPoints(sim::Fault::Thread), 3);
  EXPECT_EQ(sim::Calls("CreateThread"), 3);
  HANDLE both[2] = {first, third};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE thread : both) EXPECT_TRUE(CloseHandle(thread));
  ExpectNothingHeld();
}

TEST_F(ThreadsTest, HandleValuesAreReusedLowestFirst) {
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  const std::string path = sim::DevicePath(pad);
  auto open = [&] {
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  };
  HANDLE a = open();
  HANDLE b = open();
  HANDLE c = open();
  EXPECT_EQ(a, reinterpret_cast<HANDLE>(0x100));
  EXPECT_EQ(b, reinterpret_cast<HANDLE>(0x104));
  EXPECT_EQ(c, reinterpret_cast<HANDLE>(0x108));
  EXPECT_TRUE(CloseHandle(b));
  HANDLE thread = Start(ReturnParameter, nullptr);
  EXPECT_EQ(thread, b) << "a thread handle takes the lowest free value too";
  EXPECT_EQ(open(), reinterpret_cast<HANDLE>(0x10C));
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  for (HANDLE handle : {a, c, thread, reinterpret_cast<HANDLE>(0x10C)}) EXPECT_TRUE(CloseHandle(handle));
  SetLastError(kSentinel);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ExpectNothingHeld();
}

TEST_F(ThreadsTest, ProcessExitCodeAndJoin) {
  sim::StartProcess([] { return 9; });
  EXPECT_EQ(sim::JoinProcess(), 9);
  int code = 0;
  EXPECT_TRUE(sim::ProcessExited(&code));
  EXPECT_EQ(code, 9);
  ExpectNothingHeld();
}

}  // namespace
