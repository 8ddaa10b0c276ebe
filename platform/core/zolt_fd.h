// An owned file descriptor: closed when the owner goes out of scope.
#pragma once

#include <unistd.h>

#include <utility>

class ZOLTUniqueFd {
 public:
  explicit ZOLTUniqueFd(int fd = -1) : fd_(fd) {}
  ~ZOLTUniqueFd() { reset(); }
  ZOLTUniqueFd(ZOLTUniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ZOLTUniqueFd& operator=(ZOLTUniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ZOLTUniqueFd(const ZOLTUniqueFd&) = delete;
  ZOLTUniqueFd& operator=(const ZOLTUniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};
