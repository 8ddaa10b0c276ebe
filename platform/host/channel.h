// The pipe between the host's parent process and one worker: a Unix stream socket carrying
// length-prefixed frames (4-byte big-endian length, then the bytes), single bytes for the
// handshake, and at most one descriptor per answer (SCM_RIGHTS, on a one-byte message of its own).
//
// Ownership: a Channel owns its socket descriptor and closes it on destruction. Received
// descriptors belong to the caller.
// Failure: every call returns false when the peer went away or the socket failed; the channel is
// then unusable. Writes never raise SIGPIPE.
// Thread safety: one thread at a time per channel.
#pragma once

#include <cstdint>
#include <string>

namespace ZOLT::Host {

// Frames are capped so a corrupt length cannot make the reader allocate without bound.
inline constexpr uint32_t kMaxFrame = 80u << 20;

class Channel {
 public:
  explicit Channel(int fd = -1) : fd_(fd) {}
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  Channel(Channel&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Channel& operator=(Channel&& other) noexcept;

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Close();

  bool SendFrame(const std::string& data);
  bool RecvFrame(std::string& data);
  bool SendByte(char c);
  bool RecvByte(char& c);
  // Sends one byte carrying `fdToPass`; the caller keeps its own copy.
  bool SendFd(int fdToPass);
  // Receives the byte sent by SendFd; *received is the new descriptor (close-on-exec).
  bool RecvFd(int* received);

 private:
  bool WriteAll(const char* data, size_t len);
  bool ReadAll(char* data, size_t len);
  int fd_;
};

}  // namespace ZOLT::Host
