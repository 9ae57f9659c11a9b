// The server's response text as the internet client library hands it over:
// one or more reply lines. Portable: no platform calls.
#ifndef FTPREPLY_H
#define FTPREPLY_H

#include <stddef.h>
#include <string>

// The last line of `text` (at most `length` bytes, ending early at a zero
// byte): trailing white space is removed first, then the line is what
// follows the later of the last line feed and the last carriage return, or
// the whole text when it has neither. Empty when nothing but white space
// was said.
std::string FtpLastReplyLine(const char *text, size_t length);

// A number as the FTP variables hold it: signed decimal ("%ld").
std::string FtpDecimal(long value);

#endif
