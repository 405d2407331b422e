#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/card_data_file.h"

namespace tollwick {

std::FILE* OpenCardDataFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "ab");
    if (file == nullptr) ::close(fd);
    return file;
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    struct stat info {};
    if (::fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
        return ::fsync(fileno(file)) == 0;
    }
    return true;
}

bool IsEmptyFile(std::FILE* file) {
    struct stat info {};
    return ::fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0;
}

}  // namespace tollwick
