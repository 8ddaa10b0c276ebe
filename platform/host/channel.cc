#include "host/channel.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace ZOLT::Host {

Channel::~Channel() { Close(); }

Channel& Channel::operator=(Channel&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void Channel::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Channel::WriteAll(const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::send(fd_, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool Channel::ReadAll(char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::recv(fd_, data, len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool Channel::SendFrame(const std::string& data) {
  if (fd_ < 0 || data.size() > kMaxFrame) return false;
  auto len = static_cast<uint32_t>(data.size());
  char head[4] = {static_cast<char>(len >> 24), static_cast<char>(len >> 16),
                  static_cast<char>(len >> 8), static_cast<char>(len)};
  return WriteAll(head, sizeof(head)) && WriteAll(data.data(), data.size());
}

bool Channel::RecvFrame(std::string& data) {
  if (fd_ < 0) return false;
  unsigned char head[4];
  if (!ReadAll(reinterpret_cast<char*>(head), sizeof(head))) return false;
  uint32_t len = (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) |
                 uint32_t{head[3]};
  if (len > kMaxFrame) return false;
  data.resize(len);
  return ReadAll(data.data(), len);
}

bool Channel::SendByte(char c) { return fd_ >= 0 && WriteAll(&c, 1); }

bool Channel::RecvByte(char& c) { return fd_ >= 0 && ReadAll(&c, 1); }

bool Channel::SendFd(int fdToPass) {
  if (fd_ < 0) return false;
  char byte = 'D';
  iovec iov{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof(control);
  cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
  cmsg->cmsg_level = SOL_SOCKET;
  cmsg->cmsg_type = SCM_RIGHTS;
  cmsg->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(cmsg), &fdToPass, sizeof(int));
  for (;;) {
    ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return n == 1;
  }
}

bool Channel::RecvFd(int* received) {
  *received = -1;
  if (fd_ < 0) return false;
  char byte = 0;
  iovec iov{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof(control);
  ssize_t n;
  do {
    n = ::recvmsg(fd_, &msg, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n != 1) return false;
  for (cmsghdr* cmsg = CMSG_FIRSTHDR(&msg); cmsg != nullptr; cmsg = CMSG_NXTHDR(&msg, cmsg)) {
    if (cmsg->cmsg_level == SOL_SOCKET && cmsg->cmsg_type == SCM_RIGHTS &&
        cmsg->cmsg_len == CMSG_LEN(sizeof(int))) {
      std::memcpy(received, CMSG_DATA(cmsg), sizeof(int));
    }
  }
  return *received >= 0 && byte == 'D';
}

}  // namespace ZOLT::Host
