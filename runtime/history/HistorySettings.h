// The administrator's settings for the history and the transcript. A value
// that makes no sense (missing, not a number, zero or negative) gives the
// default rather than an error: keeping the records must never stop on it.
#pragma once

#include <string>

const int kDefaultHistoryDays = 30;
const int kDefaultTranscriptKiB = 1024;

// How many days of history files to keep.
int HistoryKeepDays(long long value);
int ParseHistoryKeepDays(const std::string &text);

// The size at which the console transcript is rotated, in KiB.
int TranscriptLimitKiB(long long value);
int ParseTranscriptLimitKiB(const std::string &text);
