// Where the installation keeps what it records (run history, transcript).
#ifndef DATAFOLDER_H
#define DATAFOLDER_H

#include <string>

// The data folder with a trailing backslash, made on first use; empty when
// no folder could be made. In order: the process variable QM.DATA_DIR; the
// common application data folder's "Quillmoth" (writable by SYSTEM and
// Administrators, readable by Users); for a user who cannot write there,
// that user's local application data (said once on the console and in the
// log).
std::string DataFolder();

// The folder a reader (-status, -history, the monitor) finds the records
// in, without making or changing anything: QM.DATA_DIR, else the common
// folder when it exists, else this user's own; empty when none exists.
std::string DataFolderToRead();

// A sub-folder of the data folder ("History\"), made on first use; empty
// when it cannot be made.
std::string DataSubFolder(const char *name);

#endif
