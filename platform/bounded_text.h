// Copying into fixed buffers: always terminated, truncation reported.
#pragma once
#include <cstddef>
#include <cstring>

namespace platform {

// Copies src into dst (capacity bytes, terminator included). Returns false
// and leaves dst empty when src does not fit whole.
inline bool copyText(char* dst, std::size_t capacity, const char* src) {
  if (capacity == 0) return false;
  std::size_t n = std::strlen(src);
  if (n >= capacity) { dst[0] = '\0'; return false; }
  std::memcpy(dst, src, n + 1);
  return true;
}

// Appends src to the text in dst; false (dst unchanged) when it does not fit.
inline bool appendText(char* dst, std::size_t capacity, const char* src) {
  std::size_t have = strnlen(dst, capacity);
  std::size_t n = std::strlen(src);
  if (have >= capacity || n >= capacity - have) return false;
  std::memcpy(dst + have, src, n + 1);
  return true;
}

}  // namespace platform
