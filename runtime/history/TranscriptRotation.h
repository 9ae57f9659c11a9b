// The console transcript grows to a limit, then becomes the first of a few
// old files and a new one begins, so its size stays bounded and the latest
// lines are always in the same file.
#pragma once

#include <string>
#include <vector>

extern const char kTranscriptName[]; // "Console.log"
const int kTranscriptOldFiles = 5;   // Console.1.log (newest) ... Console.5.log (oldest)

// Whether to rotate before appending a line of lineSize bytes to a file of
// currentSize bytes: when the line would take it past the limit (limitKiB
// passes through TranscriptLimitKiB). An empty file is never rotated, so a
// line longer than the limit is still written, once.
bool TranscriptNeedsRotation(unsigned long long currentSize, unsigned long long lineSize, int limitKiB);

// One step of a rotation: `from` renamed to `to`, or deleted when `to` is "".
struct RotationStep {
  std::string from;
  std::string to;
};

// The name of old file `number` of `name`: its number before the extension
// ("Console.log", 2 -> "Console.2.log"), or at the end of a name without one.
std::string RotatedName(const std::string &name, int number);

// The steps for `name` with `oldFiles` old files kept: the oldest deleted,
// then each file renamed to the next number, the oldest first, the current
// file last. So no step renames onto a file that is still there, and a
// rotation cut short leaves every line in some file. A step whose `from` is
// missing is skipped by the caller. oldFiles below 1 counts as 1.
std::vector<RotationStep> TranscriptRotationPlan(const std::string &name, int oldFiles);
