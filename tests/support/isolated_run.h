// Runs part of a test in a child process of its own. A crash, a sanitizer
// report or a hang in the child then becomes an outcome that the test can
// describe, and the test can go on to run smaller cases to find the shortest
// one that still fails. The child tells its progress through marks (the seed
// or the failure point about to run); a child that gives no new mark for too
// long is ended by its alarm and counts as hung.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

struct IsolatedOutcome {
  enum class End { kPassed, kFailed, kCrashed, kHung };
  End end = End::kPassed;
  std::string failure;          // the child's own account of what went wrong (kFailed)
  std::int64_t last_mark = -1;  // the last mark the child gave, -1 for none
  std::string last_note;        // what the child said it was about to run with that mark
  int wait_status = 0;
  unsigned seconds_per_mark = 0;

  bool Passed() const { return end == End::kPassed; }

  std::string Describe() const {
    switch (end) {
      case End::kPassed:
        return "passed";
      case End::kFailed:
        return failure;
      case End::kHung:
        return "hung: no progress for " + std::to_string(seconds_per_mark) + " s";
      case End::kCrashed:
        break;
    }
    if (WIFSIGNALED(wait_status)) {
      const int signal = WTERMSIG(wait_status);
      return "crashed with signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
    }
    return "ended with exit code " + std::to_string(WEXITSTATUS(wait_status)) +
           " (a sanitizer report, if any, is printed above)";
  }
};

// The child's side: how it reports progress.
class IsolatedChild {
 public:
  IsolatedChild(int channel, unsigned seconds_per_mark) : channel_(channel), seconds_(seconds_per_mark) {}

  // Notes that the child is about to run `mark` (described by `note`), and
  // gives it a fresh alarm.
  void Mark(std::int64_t mark, const std::string& note = "") const {
    const std::uint32_t length = static_cast<std::uint32_t>(note.size());
    std::string frame(1 + sizeof mark + sizeof length, 'M');
    std::memcpy(frame.data() + 1, &mark, sizeof mark);
    std::memcpy(frame.data() + 1 + sizeof mark, &length, sizeof length);
    frame += note;
    WriteAll(channel_, frame.data(), frame.size());
    alarm(seconds_);
  }

  static void WriteAll(int channel, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t written = write(channel, data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  }

 private:
  int channel_;
  unsigned seconds_;
};

// Runs `body` in a child. The body returns an empty string when all went
// well, or what went wrong. A passing child leaves through exit(), so that the
// sanitizers' own checks at exit still run and can fail it.
inline IsolatedOutcome RunIsolated(unsigned seconds_per_mark,
                                   const std::function<std::string(const IsolatedChild&)>& body) {
  IsolatedOutcome outcome;
  outcome.seconds_per_mark = seconds_per_mark;
  int channel[2];
  if (pipe(channel) != 0) {
    outcome.end = IsolatedOutcome::End::kFailed;
    outcome.failure = "cannot make a pipe for the child";
    return outcome;
  }
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    close(channel[0]);
    close(channel[1]);
    outcome.end = IsolatedOutcome::End::kFailed;
    outcome.failure = "cannot fork the child";
    return outcome;
  }
  if (child == 0) {
    close(channel[0]);
    signal(SIGALRM, SIG_DFL);
    alarm(seconds_per_mark);
    const std::string failure = body(IsolatedChild(channel[1], seconds_per_mark));
    alarm(0);
    if (failure.empty()) {
      close(channel[1]);
      std::fflush(nullptr);
      std::exit(0);
    }
    const std::string frame = "F" + failure;
    IsolatedChild::WriteAll(channel[1], frame.data(), frame.size());
    close(channel[1]);
    std::fflush(nullptr);
    _exit(1);
  }

  close(channel[1]);
  std::string received;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(channel[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  close(channel[0]);
  while (waitpid(child, &outcome.wait_status, 0) < 0 && errno == EINTR) {
  }

  std::size_t at = 0;
  while (at < received.size()) {
    constexpr std::size_t kHeader = 1 + sizeof(std::int64_t) + sizeof(std::uint32_t);
    if (received[at] == 'M' && at + kHeader <= received.size()) {
      std::uint32_t length = 0;
      std::memcpy(&outcome.last_mark, received.data() + at + 1, sizeof(std::int64_t));
      std::memcpy(&length, received.data() + at + 1 + sizeof(std::int64_t), sizeof length);
      outcome.last_note = received.substr(at + kHeader, length);
      at += kHeader + length;
    } else if (received[at] == 'F') {
      outcome.failure = received.substr(at + 1);
      break;
    } else {
      break;
    }
  }

  const int status = outcome.wait_status;
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    outcome.end = IsolatedOutcome::End::kHung;
  } else if (!outcome.failure.empty()) {
    outcome.end = IsolatedOutcome::End::kFailed;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    outcome.end = IsolatedOutcome::End::kPassed;
  } else {
    outcome.end = IsolatedOutcome::End::kCrashed;
  }
  return outcome;
}
