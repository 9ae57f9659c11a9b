#include "SystemErrorText.h"

std::string SystemErrorText(DWORD code, LANGID language) {
  char *buffer = NULL;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                NULL, code, language, reinterpret_cast<LPSTR>(&buffer), 0, NULL);
  if (length == 0 || !buffer) {
    DWORD why = GetLastError();
    if (buffer)
      LocalFree(buffer);
    return why == ERROR_MR_MID_NOT_FOUND ? "Error Message not found."
                                         : "FormatMessage failed with unknown error.";
  }
  std::string text(buffer, length);
  LocalFree(buffer);
  size_t end = text.find_last_not_of(" \t\r\n");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}
