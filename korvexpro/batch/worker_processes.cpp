#include "batch/worker_processes.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <new>
#include <string>

namespace Kvx {

bool BytesWaiting(int socket) {
  int waiting = 0;
  return ::ioctl(socket, FIONREAD, &waiting) == 0 && waiting > 0;
}

namespace {

// A message on a channel: its length as 8 bytes, then its bytes.
bool SendAll(int socket, const char* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = ::send(socket, data, bytes, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    bytes -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReceiveAll(int socket, char* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = ::recv(socket, data, bytes, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    bytes -= static_cast<std::size_t>(n);
  }
  return true;
}

// In one piece, so the other side wakes once for it.
bool SendMessage(int socket, std::string_view message) {
  const std::uint64_t length = message.size();
  std::string framed(sizeof length + message.size(), '\0');
  std::memcpy(framed.data(), &length, sizeof length);
  std::memcpy(framed.data() + sizeof length, message.data(), message.size());
  return SendAll(socket, framed.data(), framed.size());
}

// Messages are made by this program; one larger than this is no message of it.
constexpr std::uint64_t kLongestMessage = std::uint64_t{1} << 32;

std::optional<std::string> ReceiveMessage(int socket) {
  char head[sizeof(std::uint64_t)];
  if (!ReceiveAll(socket, head, sizeof head)) return std::nullopt;
  std::uint64_t length = 0;
  std::memcpy(&length, head, sizeof length);
  if (length > kLongestMessage) return std::nullopt;
  std::string message;
  try {
    message.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!ReceiveAll(socket, message.data(), message.size())) return std::nullopt;
  return message;
}

// Requests waiting on `socket` are taken into `queue`; with `wait`, the first is waited for.
// False once the channel is closed (or broke) and nothing more will come.
bool TakeRequests(int socket, std::deque<std::string>& queue, bool wait) {
  for (;;) {
    if (!wait && !BytesWaiting(socket)) return true;
    std::optional<std::string> request = ReceiveMessage(socket);
    if (!request) return false;
    queue.push_back(std::move(*request));
    wait = false;
  }
}

// The worker process: answers until its channel closes, then ends without running the program's
// exit code (the batch's files and buffers are the parent's). When its last request or all but
// one are answered it says so on `wake` (the batch sleeps until then, and sends more).
[[noreturn]] void ServeUntilClosed(int socket, int wake, const WorkerProcesses::Serve& serve) {
  // Ctrl-C reaches the whole process group: the batch decides what stops, and the rows handed
  // out here finish. A batch that has gone is seen as a closed channel, not as a signal.
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  std::deque<std::string> queue;
  bool open = true;
  bool told = false;
  for (;;) {
    if (open) open = TakeRequests(socket, queue, queue.empty());
    if (queue.empty()) break;
    const std::string request = std::move(queue.front());
    queue.pop_front();
    std::string answer;
    try {
      answer = serve(request);
    } catch (...) {
      break;  // the batch sees the process end and fails the rows it asked for
    }
    if (!SendMessage(socket, answer)) break;
    if (open) open = TakeRequests(socket, queue, false);
    if (queue.size() > 1) {
      told = false;
    } else if (queue.empty() || !told) {
      const char byte = 0;
      // A full pipe has wakes enough already.
      while (::write(wake, &byte, 1) < 0 && errno == EINTR) {
      }
      told = true;
    }
  }
  ::_exit(0);
}

}  // namespace

bool SingleThreaded() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::strtol(line.c_str() + 8, nullptr, 10) == 1;
  }
  return false;
}

WorkerProcesses::WorkerProcesses(int count, const Serve& serve) {
  if (count < 1 || !SingleThreaded()) return;
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return;
  wake_ = wake[0];
  for (int i = 0; i < count; ++i) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) break;
    const pid_t pid = ::fork();
    if (pid < 0) {
      ::close(pair[0]);
      ::close(pair[1]);
      break;
    }
    if (pid == 0) {
      // The other workers' channels are the parent's alone: held here, they would never close.
      for (const Worker& other : workers_) ::close(other.socket);
      ::close(pair[0]);
      ::close(wake[0]);
      ServeUntilClosed(pair[1], wake[1], serve);
    }
    ::close(pair[1]);
    workers_.push_back({pid, pair[0]});
  }
  ::close(wake[1]);
}

void WorkerProcesses::TakeWakes() const {
  char bytes[256];
  while (::read(wake_, bytes, sizeof bytes) > 0) {
  }
}

WorkerProcesses::~WorkerProcesses() {
  if (wake_ >= 0) ::close(wake_);
  for (Worker& worker : workers_) {
    ::close(worker.socket);
    while (::waitpid(worker.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

bool WorkerProcesses::Send(int i, std::string_view request) {
  return i >= 0 && i < Count() && SendMessage(workers_[static_cast<std::size_t>(i)].socket, request);
}

std::optional<std::string> WorkerProcesses::Receive(int i) {
  if (i < 0 || i >= Count()) return std::nullopt;
  return ReceiveMessage(workers_[static_cast<std::size_t>(i)].socket);
}

}  // namespace Kvx
