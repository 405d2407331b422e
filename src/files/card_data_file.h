// Files that hold card data: card files read back (From File), and the files card records are
// appended to (a card file, a CSV file of cards), opened private, each record made to reach the
// disk before the card is reported. Nothing here blocks on a FIFO or a device put where a file
// belongs. One interface, one implementation per platform (card_data_file_posix.cpp,
// card_data_file_win32.cpp).
#pragma once

#include <cstdio>
#include <fstream>
#include <string>

namespace tollwick {

// Opens the card file `path` (UTF-8) into `in` to read it, in binary. Only a file on a disk is
// opened: a FIFO, a device (a pipe or a console on Windows) or a folder is refused at once, so
// that nothing blocks on it. False, with errno set, when it is refused or cannot be opened.
bool OpenCardFileToRead(const std::string& path, std::ifstream& in);

// Opens `path` (UTF-8) for appending, in binary. A file it creates holds card data, so only
// its owner may read it, whatever the umask (mode 0600; on Windows a protected DACL for the user
// and SYSTEM); an existing file keeps its permissions. A FIFO that no program reads is refused
// rather than waited for (ENXIO). nullptr, with errno set, when it cannot be opened (a folder, a
// missing folder, no permission).
std::FILE* OpenCardDataFile(const std::string& path);

// Flushes `file` and, when it is a file on a disk, waits until its contents have reached the
// disk (fsync; FlushFileBuffers). A pipe or a terminal is only flushed. False, with errno set,
// when either fails.
bool FlushToDisk(std::FILE* file);

// True when `file` holds nothing yet: a file of size 0, or a pipe or a terminal (which have no
// earlier contents).
bool IsEmptyFile(std::FILE* file);

}  // namespace tollwick
