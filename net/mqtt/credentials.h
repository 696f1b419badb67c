#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

// The broker login, from a file of its own so it stays out of the command line.
namespace lw::mqtt {

struct Credentials {
    std::string user;
    std::string password;
};

// A credentials file: the user on the first line, the password on the second.
Result<Credentials> parseCredentials(std::string_view fileText);

// Reads and parses the file at `path`; errors name the file.
Result<Credentials> readCredentials(const std::string& path);

}  // namespace lw::mqtt
