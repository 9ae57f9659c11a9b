#include "HistoryRetention.h"

#include "HistorySettings.h"

namespace {

const char kExtension[] = ".csv";
const size_t kDateLength = 10; // "YYYY-MM-DD"

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

std::string HistoryDayFileName(const HistoryDate &date) {
  std::string name = FormatHistoryDate(date);
  return name.empty() ? name : name + kExtension;
}

bool ParseHistoryDayFileName(const std::string &name, HistoryDate &date) {
  const size_t extensionLength = sizeof kExtension - 1;
  if (name.size() != kDateLength + extensionLength)
    return false;
  for (size_t i = 0; i < extensionLength; ++i)
    if (Lower(name[kDateLength + i]) != kExtension[i])
      return false;
  return ParseHistoryDate(name.substr(0, kDateLength), date);
}

std::vector<std::string> HistoryFilesToDelete(const std::vector<std::string> &names, const HistoryDate &today,
                                              int keepDays) {
  std::vector<std::string> doomed;
  if (!IsValidDate(today))
    return doomed;
  const long long firstKept = DayNumber(today) - HistoryKeepDays(keepDays) + 1;
  for (const std::string &name : names) {
    HistoryDate date;
    if (ParseHistoryDayFileName(name, date) && DayNumber(date) < firstKept)
      doomed.push_back(name);
  }
  return doomed;
}
