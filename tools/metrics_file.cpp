#include "tools/metrics_file.h"

#include <chrono>
#include <cstdio>

#include "storage/replacing_file.h"

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
  // 0644: node_exporter, another user, reads it.
  ReplacingFile file(path_, 0644);
  const std::string text = text_();
  if (file.Stream()) std::fwrite(text.data(), 1, text.size(), file.Stream());
  const auto failed = file.Commit();
  if (failed) error = "cannot write the metrics file " + path_ + ": " + *failed;
  return !failed;
}

}  // namespace orvanel::cli
