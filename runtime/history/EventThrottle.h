// Keeps a failing script from flooding the event log: at most one event per
// key (a script's path) per window; calls within the window are counted and
// the next event that goes out tells how many were held back.
//
// The time is passed in by the caller (milliseconds of a steady clock, such
// as GetTickCount64), never read here, so a test can drive it. Not safe for
// concurrent calls: the caller holds its lock around Offer.
#pragma once

#include <cstdint>
#include <map>
#include <string>

const long long kEventThrottleWindowMs = 10LL * 60 * 1000;

struct ThrottleAnswer {
  bool send;         // write the event now
  uint64_t heldBack; // with send: events for this key held back since the last one sent
};

class EventThrottle {
public:
  explicit EventThrottle(long long windowMs = kEventThrottleWindowMs);

  // An event for `key` wants out at `nowMs`. Keys are compared as Windows
  // compares paths: case-blind (ASCII, Latin, Greek and Cyrillic letters)
  // and with '/' the same as '\'. A time before the key's last event (a
  // clock that went back) opens a new window rather than holding events
  // back for as long as the clock was set back.
  ThrottleAnswer Offer(const std::string &key, long long nowMs);

private:
  struct Window {
    long long sentAt;
    uint64_t heldBack;
  };
  // Forgets keys whose window is over with nothing held back: they would
  // be sent anyway, and a long-running program sees many scripts.
  void Forget(long long nowMs);

  long long windowMs_;
  std::map<std::string, Window> windows_;
};
