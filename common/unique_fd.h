#pragma once

#include <unistd.h>

namespace theme_search {

// Owns one file descriptor and closes it when destroyed or reset, so no path
// can leak it. Move-only: two owners of one descriptor would close it twice.
// Not thread-safe; an instance belongs to one thread at a time.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  // The descriptor, still owned; -1 when empty.
  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] bool valid() const noexcept { return fd_ >= 0; }

  // Gives up ownership without closing; the caller now owns the result.
  [[nodiscard]] int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

  // Closes the owned descriptor (if any and different) and takes fd.
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace theme_search
