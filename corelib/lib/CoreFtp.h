// FTP sessions: what the rest of the object needs of them.
#ifndef COREFTP_H
#define COREFTP_H

#include "HandleTable.h"

// The variables in which FTP methods publish their outcome.
extern const char kFtpLastLine[];
extern const char kFtpWinsock[];
extern const char kFtpLastMessage[];
extern const char kFtpReplyCode[];

// Ends the session of an HT_FTP_SESSION record taken from the table (the
// server's goodbye is recorded) and frees the record; false for no record.
bool CloseFtpSession(HandleRecord *record);

#endif
