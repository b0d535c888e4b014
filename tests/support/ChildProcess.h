#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A program started for a test, with its standard output captured through
// a pipe and its standard error through a temporary file.  The destructor kills and reaps it if the test did not, so a
// failing test never leaves a process behind.
class ChildProcess
{
public:
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& extraEnvironment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next line of standard output (without its newline), or nothing if the
  // stream ends or the timeout passes first.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);

  // Sends a signal and waits for the process to end; returns the raw wait
  // status, or nothing if it did not end within the timeout.
  std::optional<int> stop(int signal, std::chrono::milliseconds timeout);

  // Waits for the process to end by itself; raw wait status or nothing.
  std::optional<int> wait(std::chrono::milliseconds timeout);

  bool running();
  // After a SIGSTOP: waits until the kernel shows the process stopped, as
  // the signal takes effect some time after it was sent.
  bool waitUntilStopped(std::chrono::milliseconds timeout);
  pid_t pid() const { return pid_; }

  // Sends a signal without waiting (SIGSTOP, SIGCONT, ...).
  void signal(int signal);

  // Everything still unread on standard output, read until the stream
  // closes (call after the process ended), and all of standard error so far.
  std::string remainingOutput();
  std::string errorOutput();

private:
  static std::string drain(int fd);

  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  std::string pending_;
  std::optional<int> status_;
};

// Starts `argv` (the program's path first) in a child process that first
// runs `prepareChild` (to set up its descriptors); returns its id.
pid_t spawnProgram(const std::vector<std::string>& argv, const std::function<void()>& prepareChild);

#endif // TESTS_SUPPORT_CHILDPROCESS_H
