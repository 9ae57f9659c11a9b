// The words of a command line as the process methods see them: split at
// blanks, tabs and commas; a double-quoted stretch belongs to one word and
// loses its quotes. Portable: no platform calls.
#ifndef COMMANDWORDS_H
#define COMMANDWORDS_H

#include <string>
#include <vector>

// Every non-empty word of `line` in order (an empty line, or one of only
// separators or empty quotes, gives none). A quote left open runs to the end.
std::vector<std::string> SplitCommandWords(const char *line);

// Only the first word; false when the line has none.
bool FirstCommandWord(const char *line, std::string &word);

#endif
