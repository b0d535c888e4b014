#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
  using Clock = std::chrono::steady_clock;

  int remainingMs(Clock::time_point deadline)
  {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
}

pid_t spawnProgram(const std::vector<std::string>& argv, const std::function<void()>& prepareChild)
{
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    prepareChild();
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnvironment)
{
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  // Standard error goes to a file: a chatty child (a sanitizer report, say)
  // must never block on a full pipe that nobody reads yet.
  char errorPath[] = "/tmp/child-stderr-XXXXXX";
  stderrFd_ = mkostemp(errorPath, O_CLOEXEC);
  if (stderrFd_ < 0)
    throw std::runtime_error("mkostemp failed");
  unlink(errorPath);

  pid_ = spawnProgram(argv, [&] {
    dup2(out[1], STDOUT_FILENO);
    dup2(stderrFd_, STDERR_FILENO);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, STDIN_FILENO);
    for (const std::string& e : extraEnvironment)
      putenv(const_cast<char*>(e.c_str()));
  });
  close(out[1]);
  stdoutFd_ = out[0];
}

ChildProcess::~ChildProcess()
{
  if (running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(stdoutFd_);
  close(stderrFd_);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    std::size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    pollfd p{stdoutFd_, POLLIN, 0};
    int ready = poll(&p, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return std::nullopt;
    char buffer[4096];
    ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0)
      return std::nullopt;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout)
{
  if (status_)
    return status_;
  const Clock::time_point deadline = Clock::now() + timeout;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = status;
      return status_;
    }
    if (Clock::now() >= deadline)
      return std::nullopt;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

std::optional<int> ChildProcess::stop(int signal, std::chrono::milliseconds timeout)
{
  if (!status_)
    kill(pid_, signal);
  return wait(timeout);
}

void ChildProcess::signal(int signal)
{
  if (!status_)
    kill(pid_, signal);
}

bool ChildProcess::running()
{
  return !wait(std::chrono::milliseconds(0));
}

std::string ChildProcess::drain(int fd)
{
  std::string all;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0)
      break;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0)
      break;
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

std::string ChildProcess::remainingOutput()
{
  std::string all = std::move(pending_);
  pending_.clear();
  return all + drain(stdoutFd_);
}

std::string ChildProcess::errorOutput()
{
  std::string all;
  char buffer[4096];
  ssize_t n;
  off_t offset = 0;
  while ((n = pread(stderrFd_, buffer, sizeof buffer, offset)) > 0) {
    all.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
  return all;
}

bool ChildProcess::waitUntilStopped(std::chrono::milliseconds timeout)
{
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The state follows the command name, which is in parentheses.
    const std::size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() &&
        (line[close + 2] == 'T' || line[close + 2] == 't'))
      return true;
    if (Clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
