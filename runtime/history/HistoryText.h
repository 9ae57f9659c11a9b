// Texts as the history and the transcript keep them: valid UTF-8 that stays
// readable in any editor, and long texts cut where a reader can see it.
// Inputs are meant to be UTF-8; broken bytes are still handled safely.
#pragma once

#include <cstdint>
#include <string>

// What ends a cut text.
extern const char kCutMark[]; // "..."

// The length of the well-formed UTF-8 sequence at text[pos] (1-4), with its
// code point; 0 when the byte there does not start one (a stray continuation
// byte, an overlong form, a surrogate, beyond U+10FFFF, or cut short).
size_t Utf8SequenceAt(const std::string &text, size_t pos, uint32_t &codePoint);

// The number of characters: a well-formed sequence counts one, and so does
// each byte of a broken one.
size_t Utf8Length(const std::string &text);

// The text with every broken byte and every control character other than
// tab, CR and LF (C0 controls, DEL and the C1 controls) replaced by U+FFFD,
// so a file of such texts is valid UTF-8 and shows no invisible characters.
std::string CleanText(const std::string &text);

// The text when it has at most maxChars characters; otherwise its first
// maxChars - 3 characters followed by "...", so the cut text is maxChars
// long. A multi-byte character is kept whole or left out, never split.
// maxChars below 3 counts as 3.
std::string CutText(const std::string &text, size_t maxChars);
