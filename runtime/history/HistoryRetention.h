// The History folder holds one file per local day; files older than the
// days to keep are deleted. Only names of exactly our form are ever chosen,
// so nothing an administrator puts beside them is touched.
#pragma once

#include <string>
#include <vector>

#include "HistoryTime.h"

// "2026-12-09.csv" for a valid date, "" otherwise.
std::string HistoryDayFileName(const HistoryDate &date);

// True for a day file's name, with its date: "YYYY-MM-DD.csv" of a valid
// date, the extension in any case (Windows names are case-blind, so
// "2026-12-09.CSV" is the file the history writes to).
bool ParseHistoryDayFileName(const std::string &name, HistoryDate &date);

// Of the names found in the folder, the day files to delete: those dated
// keepDays or more days before today, so today's file and those of the
// keepDays - 1 days before it stay. keepDays passes through HistoryKeepDays
// (0 or negative: the default). Files dated after today (a clock that was
// set back) are kept: they are not known to be old. An invalid today
// deletes nothing.
std::vector<std::string> HistoryFilesToDelete(const std::vector<std::string> &names, const HistoryDate &today,
                                              int keepDays);
