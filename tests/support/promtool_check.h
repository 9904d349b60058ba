// promtool's verdict on a metrics page, as Prometheus would parse it.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace orvanel::test {

// Empty when `promtool check metrics` accepts text; its findings otherwise.
inline std::string PromtoolFindings(const std::string& text, const std::filesystem::path& scratch) {
  const std::filesystem::path page = scratch / "page.prom";
  std::ofstream(page, std::ios::binary) << text;
  const std::string command = "promtool check metrics < '" + page.string() + "' 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "promtool did not start";
  std::string findings;
  char chunk[256];
  while (const std::size_t count = std::fread(chunk, 1, sizeof chunk, pipe)) findings.append(chunk, count);
  const int status = pclose(pipe);
  return status == 0 && findings.empty() ? "" : findings + " (status " + std::to_string(status) + ")";
}

}  // namespace orvanel::test
