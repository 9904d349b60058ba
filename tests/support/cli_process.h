// Runs orvanel-cli (or any command) as a child whose output goes to files, so
// a test can send traffic while it captures and then read what it printed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace orvanel::test {

class CliProcess {
 public:
  // Starts argv[0] (an absolute path) with its output in files of directory.
  CliProcess(const std::vector<std::string>& argv, const std::filesystem::path& directory);
  ~CliProcess();  // kills it if it still runs
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Waits until stderr holds text; false if the process ended or time ran out first.
  bool WaitForError(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10));
  [[nodiscard]] bool Signal(int signal) const;
  // Waits for the exit and returns its status; -1 if it did not exit
  // normally or within the limit (it is killed then).
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(10));
  bool Running();
  [[nodiscard]] pid_t Pid() const { return pid_; }  // -1 once it has ended

  [[nodiscard]] std::string Out() const;
  [[nodiscard]] std::string Err() const;

 private:
  std::filesystem::path out_, err_;
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace orvanel::test
