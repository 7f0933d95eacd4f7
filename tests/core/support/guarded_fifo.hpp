// A FIFO for tests of readers that must refuse it without waiting on it. A
// reader that does wait is set free after a deadline, so that a regression
// fails the test instead of hanging the run.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace quorvel::test {

class GuardedFifo {
 public:
  // Makes a FIFO at `path`. With `hold_writer`, a writer keeps it open, so a
  // reader would wait in read rather than in open.
  GuardedFifo(std::string path, bool hold_writer) : path_(std::move(path)) {
    if (::mkfifo(path_.c_str(), 0600) != 0) {
      ADD_FAILURE() << "mkfifo " << path_ << " failed";
      return;
    }
    if (hold_writer) {
      // Opened for reading too, so that the open itself does not wait.
      writer_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
      EXPECT_GE(writer_, 0) << path_;
    }
    guard_ = std::thread([this] { watch(); });
  }
  GuardedFifo(const GuardedFifo&) = delete;
  GuardedFifo& operator=(const GuardedFifo&) = delete;
  ~GuardedFifo() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_changed_.notify_one();
    if (guard_.joinable()) {
      guard_.join();
    }
  }

 private:
  // Past the deadline a writer comes and goes, which ends a wait in open, and
  // the held writer closes, which ends a wait in read: the reader then sees an
  // empty file.
  void watch() {
    std::unique_lock lock(mutex_);
    if (!done_changed_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; })) {
      ADD_FAILURE() << "a reader waited on the FIFO " << path_;
      const int visitor = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (visitor >= 0) {
        ::close(visitor);
      }
    }
    if (writer_ >= 0) {
      ::close(writer_);
    }
  }

  std::string path_;
  int writer_ = -1;
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  std::thread guard_;
};

}  // namespace quorvel::test
