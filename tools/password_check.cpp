#include "tools/password_check.h"

#include <crypt.h>

#include <memory>

namespace orvanel::cli {

bool CheckPassword(const std::map<std::string, std::string>& users, const std::string& user,
                   const std::string& password) {
  if (users.empty()) return false;
  const auto found = users.find(user);
  // Another user's hash, of the same cost as the configured ones.
  const std::string& hash = found != users.end() ? found->second : users.begin()->second;
  const auto data = std::make_unique<crypt_data>();  // 32 KiB: too big for a worker's stack
  const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
  return found != users.end() && computed && hash == computed;
}

}  // namespace orvanel::cli
