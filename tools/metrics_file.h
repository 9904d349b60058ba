// Keeps a file holding the metrics: rewritten every second on a thread of its
// own, each time whole, so a reader never sees half of it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace orvanel::cli {

class MetricsFile {
 public:
  // text makes the file's contents; it is called on the writing thread.
  MetricsFile(std::string path, std::function<std::string()> text);
  ~MetricsFile();  // stops rewriting
  MetricsFile(const MetricsFile&) = delete;
  MetricsFile& operator=(const MetricsFile&) = delete;

  // Writes the file now and then every second; false with error when the
  // first write fails, and nothing is started then.
  [[nodiscard]] bool Start(std::string& error);

  // Stops rewriting and writes the file a last time; false with error when
  // that fails.
  [[nodiscard]] bool Finish(std::string& error);

 private:
  // A new file beside the file, renamed over it.
  bool Write(std::string& error) const;
  void Stop();

  std::string path_;
  std::function<std::string()> text_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace orvanel::cli
