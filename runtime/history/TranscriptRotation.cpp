#include "TranscriptRotation.h"

#include "HistorySettings.h"

const char kTranscriptName[] = "Console.log";

bool TranscriptNeedsRotation(unsigned long long currentSize, unsigned long long lineSize, int limitKiB) {
  const unsigned long long limit = static_cast<unsigned long long>(TranscriptLimitKiB(limitKiB)) * 1024;
  if (currentSize == 0)
    return false;
  return currentSize >= limit || lineSize > limit - currentSize;
}

std::string RotatedName(const std::string &name, int number) {
  // The extension is the part after the last dot of the last path element.
  size_t dot = name.find_last_of('.');
  size_t separator = name.find_last_of("\\/");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
    dot = name.size();
  return name.substr(0, dot) + "." + std::to_string(number) + name.substr(dot);
}

std::vector<RotationStep> TranscriptRotationPlan(const std::string &name, int oldFiles) {
  if (oldFiles < 1)
    oldFiles = 1;
  std::vector<RotationStep> steps;
  steps.push_back({RotatedName(name, oldFiles), std::string()});
  for (int number = oldFiles - 1; number >= 1; --number)
    steps.push_back({RotatedName(name, number), RotatedName(name, number + 1)});
  steps.push_back({name, RotatedName(name, 1)});
  return steps;
}
