#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "files/card_data_file.h"
#include "files/posix_write.h"
#include "files/user_file.h"
#include "files/utf8_path.h"

namespace tollwick {
namespace {

// Another program's append holds the lock for one record: waited for this long, in steps.
constexpr auto kLockStep = std::chrono::milliseconds(10);
constexpr int kLockSteps = 500;  // 5 s

bool LockForAppend(int fd) {
    for (int step = 0; step < kLockSteps; ++step) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        std::this_thread::sleep_for(kLockStep);
    }
    errno = EBUSY;
    return false;
}

}  // namespace

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

std::FILE* OpenCardDataFile(const std::string& path, std::string* refusal) {
    const LinkTarget target = FollowLinks(PathFromUtf8(path));
    if (!target.refusal.empty()) {
        if (refusal) *refusal = target.refusal;
        errno = EPERM;
        return nullptr;
    }
    const char* name = target.path.c_str();
    // O_NONBLOCK: a FIFO without a reader fails the open instead of blocking it; the writes are
    // made blocking again. O_NOFOLLOW: the links were followed above, by the rule.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    int fd = -1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        fd = ::open(name, kFlags);
        if (fd >= 0 || errno != ENOENT) break;
        // A new file is made by this open, or the file that appeared meanwhile is opened.
        fd = ::open(name, kFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd < 0) return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "ab");
    if (file == nullptr) ::close(fd);
    return file;
}

bool AppendWhole(std::FILE* file, std::string_view bytes, bool* restored) {
    if (restored) *restored = false;
    if (std::fflush(file) != 0) return false;
    // Written past stdio: a short write must leave nothing in a buffer to come out later.
    const int fd = fileno(file);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    if (!S_ISREG(info.st_mode)) return WriteAll(fd, bytes);
    if (!LockForAppend(fd) || ::fstat(fd, &info) != 0) return false;
    const off_t before = info.st_size;
    const bool done = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int error = errno;
    if (!done) {
        const bool cut = ::ftruncate(fd, before) == 0 && ::fsync(fd) == 0;
        if (restored) *restored = cut;
    }
    ::flock(fd, LOCK_UN);
    errno = error;
    return done;
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

std::unique_ptr<StoppableInput> StoppableInput::Open(const std::string& path,
                                                     std::stop_token stop) {
    if (path == "-") {
        return std::unique_ptr<StoppableInput>(new StoppableInput(STDIN_FILENO, false, stop));
    }
    // O_NONBLOCK: a FIFO is opened without waiting for its writer; reads wait in poll.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return nullptr;
    }
    return std::unique_ptr<StoppableInput>(new StoppableInput(fd, true, stop));
}

StoppableInput::~StoppableInput() {
    if (owned_) ::close(static_cast<int>(handle_));
}

long StoppableInput::ReadSome(char* into, std::size_t size) {
    const int fd = static_cast<int>(handle_);
    for (;;) {
        if (stop_.stop_requested()) {
            stopped_ = true;
            return 0;
        }
        // Standard input is not made non-blocking (its flags are shared with the shell): a read
        // follows only once poll says that it will not wait.
        pollfd ready{fd, POLLIN, 0};
        const int count = ::poll(&ready, 1, kInputSliceMs);
        if (count == 0 || (count < 0 && errno == EINTR)) continue;
        if (count < 0) {
            failed_ = true;
            return 0;
        }
        const ssize_t got = ::read(fd, into, size);
        if (got >= 0) return static_cast<long>(got);
        if (errno == EAGAIN || errno == EINTR) continue;
        failed_ = true;
        return 0;
    }
}

}  // namespace tollwick
