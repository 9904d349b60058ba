#include "tools/metrics_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "capture/unique_fd.h"

namespace orvanel::cli {

constexpr auto kRewritePeriod = std::chrono::seconds(1);

MetricsFile::MetricsFile(std::string path, std::function<std::string()> text)
    : path_(std::move(path)), text_(std::move(text)) {}

MetricsFile::~MetricsFile() { Stop(); }

bool MetricsFile::Start(std::string& error) {
  if (!Write(error)) return false;
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!stopped_.wait_for(lock, kRewritePeriod, [this] { return stop_; })) {
      lock.unlock();
      std::string ignored;  // a failure now may pass; the last write reports
      Write(ignored);
      lock.lock();
    }
  });
  return true;
}

bool MetricsFile::Finish(std::string& error) {
  Stop();
  return Write(error);
}

void MetricsFile::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool MetricsFile::Write(std::string& error) const {
  const std::string text = text_();
  const std::string temporary = path_ + ".tmp";
  const UniqueFd file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  bool written = file.valid();
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t count = write(file.get(), text.data() + done, text.size() - done);
    written = count > 0;
    if (written) done += static_cast<std::size_t>(count);
  }
  if (written && std::rename(temporary.c_str(), path_.c_str()) == 0) return true;
  error = "cannot write the metrics file " + path_ + ": " + std::strerror(errno);
  if (file.valid()) unlink(temporary.c_str());
  return false;
}

}  // namespace orvanel::cli
