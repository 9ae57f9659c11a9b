// One entry of the console transcript: the local time to the second, then
// the text, as "2026-12-09 20:21:05 Started AutoRun.vbs". The time has no
// offset: the transcript is read by a person on that machine; the history
// file carries the offsets.
#pragma once

#include <string>

#include "HistoryTime.h"

// The entry with its CRLF, to be written with one write. The text is
// cleaned (CleanText); one line end at its end is dropped; each line break
// in it becomes CRLF followed by blanks the width of the time, so the
// following lines stand under the first and no line of the file begins
// with a time that is not an entry's. An invalid time is written as
// "---------- --:--:--", keeping the text.
std::string TranscriptLine(const HistoryTime &time, const std::string &text);
