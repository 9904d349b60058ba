// Checks basic auth credentials against the bcrypt hashes of a web config.
#pragma once

#include <map>
#include <string>

namespace orvanel::cli {

// True when users holds user and password matches its hash. An unknown user
// costs one hash as a known one does, so timing does not tell them apart.
bool CheckPassword(const std::map<std::string, std::string>& users, const std::string& user,
                   const std::string& password);

}  // namespace orvanel::cli
