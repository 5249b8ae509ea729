#pragma once
// A secret kept in a file (a password, a token): the first line of a
// regular file, opened without following a link or blocking, read no
// further than a secret can be long.

#include <string>

inline constexpr std::size_t MaxSecretBytes = 1024;

bool ReadSecretLine(const std::string& path, std::string& line);
