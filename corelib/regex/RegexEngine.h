// A small regular expression engine for 8-bit text: a pattern is compiled
// into a node program and searched by backtracking. Its client is the window
// search, which matches window texts and class names.
#pragma once

// The compiled pattern: one heap block, released by the caller with free().
// The node program follows this record directly in the same block.
// A program is changed by every search (the position slots), so one program
// must not be searched by two threads at once.
struct RegexProgram {
  const char *start[10];      // 0: start of the match; 1-9: start of group n
  const char *end[10];        // one past the last character of each of them
  unsigned char firstChar;    // 0, or the character every match begins with
  unsigned char anchored;     // 1 = can only match at the start of the subject
  const char *must;           // null, or a literal every match contains
  int mustLength;
  int programSize;            // bytes of the node program behind this record
};

// The node program of a compiled pattern (byte 0 is the check byte).
inline unsigned char *RegexProgramCode(RegexProgram *program) {
  return reinterpret_cast<unsigned char *>(program + 1);
}
inline const unsigned char *RegexProgramCode(const RegexProgram *program) {
  return reinterpret_cast<const unsigned char *>(program + 1);
}

// Receives the text of every compile or search failure. Empty by default;
// the engine never sets it.
typedef void (*RegexErrorHookFn)(const char *text);
extern RegexErrorHookFn RegexErrorHook;

// A new program for the NUL-terminated pattern, or null (reported).
RegexProgram *RegexCompile(const char *pattern);

// 1 if some substring of the NUL-terminated subject matches, else 0. On 1 the
// position slots describe the leftmost match.
int RegexMatch(RegexProgram *program, const char *subject);
