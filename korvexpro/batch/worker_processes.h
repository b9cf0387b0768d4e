#pragma once

// Processes forked by a batch to convert its rows. A fork starts with the program's memory as it
// was (the settings snapshot, the colour library) and shares nothing after: each process has its
// own file descriptors, heap and kernel bookkeeping, so two of them convert side by side without
// what two threads of one process pay for sharing those (the descriptor table above all, which
// every open and close of a file takes a lock on).
//
// Each process answers requests, one at a time and in the order they came, through a socket pair
// of its own, until the batch closes it. A process that dies answers nothing more. One thread at
// a time uses the channels.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kvx {

class WorkerProcesses {
 public:
  // Turns a request into its answer, in the worker process.
  using Serve = std::function<std::string(std::string_view request)>;

  // Forks `count` processes answering with `serve`. None are started (Count() is 0) when the
  // calling process runs more than one thread (a fork copies only the thread that forks, with
  // whatever locks the others held) or a fork fails; the caller then converts on threads.
  WorkerProcesses(int count, const Serve& serve);
  // Closes every channel and waits for the processes to end (each after the request it is on).
  ~WorkerProcesses();
  WorkerProcesses(const WorkerProcesses&) = delete;
  WorkerProcesses& operator=(const WorkerProcesses&) = delete;

  int Count() const { return static_cast<int>(workers_.size()); }
  // Sends `request` to process `i` (requests are answered in the order sent); false when the
  // process is gone.
  bool Send(int i, std::string_view request);
  // Waits for the next answer of process `i`; nullopt once the process is gone or the answer did
  // not arrive whole.
  std::optional<std::string> Receive(int i);
  // The descriptor process `i`'s answers arrive on, to wait for several processes at once.
  int Socket(int i) const { return workers_[static_cast<std::size_t>(i)].socket; }
  // Readable when a process has answered all its requests, or all but one: the moment to send
  // more, or to take in the answers the batch waits for. A process does not wake the batch for
  // every answer, which on a busy machine would cost a context switch each.
  int WakeDescriptor() const { return wake_; }
  // Takes the wakes that came (the answers stay to be received).
  void TakeWakes() const;

 private:
  struct Worker {
    pid_t pid = -1;
    int socket = -1;
  };

  std::vector<Worker> workers_;
  int wake_ = -1;  // read end; the processes hold the write end
};

// True when bytes wait to be received on `socket`.
bool BytesWaiting(int socket);

// True when the calling process runs exactly one thread.
bool SingleThreaded();

}  // namespace Kvx
