// Turns a fuzzer's byte buffer into the NUL-terminated texts the portable
// units take, and stops the run loudly when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The bytes up to the first NUL, as the units would see a C string.
inline std::string FuzzText(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  size_t nul = text.find('\0');
  if (nul != std::string::npos)
    text.resize(nul);
  return text;
}

// Two texts: the input split at its first NUL (the second may hold more).
inline void FuzzTwoTexts(const uint8_t *data, size_t size, std::string &first, std::string &second) {
  std::string all(reinterpret_cast<const char *>(data), size);
  size_t nul = all.find('\0');
  if (nul == std::string::npos) {
    first = all;
    second.clear();
    return;
  }
  first = all.substr(0, nul);
  second = FuzzText(data + nul + 1, size - nul - 1);
}

// Reads a little-endian number from the front of the input and consumes it.
inline int32_t FuzzTakeInt(const uint8_t *&data, size_t &size) {
  uint32_t value = 0;
  for (int i = 0; i < 4 && size > 0; ++i, ++data, --size)
    value |= static_cast<uint32_t>(*data) << (8 * i);
  return static_cast<int32_t>(value);
}

// An invariant broke: abort so the fuzzer keeps the input as a finding.
#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                                 \
      std::abort();                                                             \
    }                                                                           \
  } while (0)
