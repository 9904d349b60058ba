#include "tests/support/cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace orvanel::test {

CliProcess::CliProcess(const std::vector<std::string>& argv, const std::filesystem::path& directory)
    : out_(directory / "stdout"), err_(directory / "stderr") {
  std::vector<std::string> arguments = argv;
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  // A file left by an earlier run must not be read as this one's.
  std::filesystem::remove(out_);
  std::filesystem::remove(err_);
  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
}

CliProcess::~CliProcess() {
  if (Running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool CliProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  if (done == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

bool CliProcess::WaitForError(const std::string& text, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (Err().find(text) == std::string::npos) {
    if (!Running() || std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool CliProcess::Signal(int signal) const { return pid_ > 0 && kill(pid_, signal) == 0; }

int CliProcess::Wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (Running()) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

std::string CliProcess::Out() const { return FileContents(out_); }
std::string CliProcess::Err() const { return FileContents(err_); }

}  // namespace orvanel::test
