// Files that card records are appended to (a card file, a CSV file of cards): opened private,
// and each record made to reach the disk before the card is reported. One interface, one
// implementation per platform (card_data_file_posix.cpp, card_data_file_win32.cpp).
#pragma once

#include <cstdio>
#include <string>

namespace tollwick {

// Opens `path` (UTF-8) for appending, in binary. A file it creates holds card data, so only
// its owner may read it, whatever the umask (mode 0600; on Windows a protected DACL for the user
// and SYSTEM); an existing file keeps its permissions. nullptr, with errno set, when it cannot
// be opened (a folder, a missing folder, no permission).
std::FILE* OpenCardDataFile(const std::string& path);

// Flushes `file` and, when it is a file on a disk, waits until its contents have reached the
// disk (fsync; FlushFileBuffers). A pipe or a terminal is only flushed. False, with errno set,
// when either fails.
bool FlushToDisk(std::FILE* file);

// True when `file` holds nothing yet: a file of size 0, or a pipe or a terminal (which have no
// earlier contents).
bool IsEmptyFile(std::FILE* file);

}  // namespace tollwick
