#include "EventThrottle.h"

#include "HistoryText.h"

namespace {

// The lower-case form of a capital letter in the scripts Windows paths
// commonly use; any other code point as it is.
uint32_t FoldCase(uint32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F))
    return c + 0x20;
  if (c >= 0x400 && c <= 0x40F)
    return c + 0x50;
  if (c == 0x178)
    return 0xFF; // Ÿ
  // Latin Extended-A pairs its capitals and small letters: even-odd in most
  // runs, odd-even in two.
  bool evenCapitals = (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if ((evenCapitals && c % 2 == 0) || (oddCapitals && c % 2 == 1))
    return c + 1;
  return c;
}

// Every letter FoldCase gives lies below U+0800: one or two bytes.
void AppendFolded(std::string &text, uint32_t c) {
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string PathKey(const std::string &path) {
  std::string key;
  key.reserve(path.size());
  for (size_t pos = 0; pos < path.size();) {
    uint32_t c;
    size_t length = Utf8SequenceAt(path, pos, c);
    if (length == 0) {
      key += path[pos++]; // a broken byte stays itself
    } else if (c == '/') {
      key += '\\';
      pos += length;
    } else if (FoldCase(c) != c) {
      AppendFolded(key, FoldCase(c));
      pos += length;
    } else {
      key.append(path, pos, length);
      pos += length;
    }
  }
  return key;
}

} // namespace

EventThrottle::EventThrottle(long long windowMs) : windowMs_(windowMs > 0 ? windowMs : kEventThrottleWindowMs) {}

void EventThrottle::Forget(long long nowMs) {
  for (auto it = windows_.begin(); it != windows_.end();) {
    if (it->second.heldBack == 0 && (nowMs - it->second.sentAt >= windowMs_ || nowMs < it->second.sentAt))
      it = windows_.erase(it);
    else
      ++it;
  }
}

ThrottleAnswer EventThrottle::Offer(const std::string &path, long long nowMs) {
  Forget(nowMs);
  const std::string key = PathKey(path);
  auto found = windows_.find(key);
  if (found == windows_.end()) {
    windows_[key] = Window{nowMs, 0};
    return ThrottleAnswer{true, 0};
  }
  Window &window = found->second;
  if (nowMs >= window.sentAt && nowMs - window.sentAt < windowMs_) {
    ++window.heldBack;
    return ThrottleAnswer{false, 0};
  }
  ThrottleAnswer answer{true, window.heldBack};
  window = Window{nowMs, 0};
  return answer;
}
