#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/card_data_file.h"

namespace tollwick {

bool OpenCardFileToRead(const std::string& path, std::ifstream& in) {
    // Looked at without blocking first: an open of a FIFO waits for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular) {
        errno = EINVAL;
        return false;
    }
    in.open(path, std::ios::binary);
    return in.is_open();
}

std::FILE* OpenCardDataFile(const std::string& path) {
    // O_NONBLOCK: a FIFO without a reader fails the open instead of blocking it; the writes are
    // made blocking again.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
