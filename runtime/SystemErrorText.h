#ifndef SYSTEMERRORTEXT_H
#define SYSTEMERRORTEXT_H

#include <windows.h>
#include <string>

// The system's message text for an error code with trailing white space
// removed; "Error Message not found." when the system has no text for the
// code, "FormatMessage failed with unknown error." when the lookup fails.
std::string SystemErrorText(DWORD code, LANGID language);

#endif
