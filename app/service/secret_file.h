#pragma once
// Secrets and keys kept in files (a password, a token, a TLS key): read
// from a regular file opened without following a link or blocking, and no
// further than they can be long.

#include <cstddef>
#include <string>

inline constexpr std::size_t MaxSecretBytes = 1024;

// The first `limit` bytes of the file at most (all of a shorter one);
// false when it is no regular file or cannot be read.
bool ReadFileHead(const std::string& path, std::size_t limit, std::string& bytes);

// The first line, of at most MaxSecretBytes.
bool ReadSecretLine(const std::string& path, std::string& line);
