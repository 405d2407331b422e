#include "files/locked_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "files/rewrite_target.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

void Why(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string SystemText(int number) {
    return std::system_category().message(number);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A new file holds card data or the password: only its owner reads it.
constexpr mode_t kNewFileMode = 0600;

// Reads what `fd` holds, as ReadWholeFile describes; *mode gets the file's permission bits.
FileContents ReadOpenFile(int fd, std::size_t maxBytes, mode_t* mode = nullptr) {
    FileContents contents;
    contents.state = FileState::kUnusable;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > maxBytes) {
        return contents;
    }
    if (mode) *mode = info.st_mode & 07777;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (n == 0) {
            contents.state = FileState::kRead;
            break;
        }
        contents.bytes.append(buffer, static_cast<std::size_t>(n));
        if (contents.bytes.size() > maxBytes) break;  // grew while being read
    }
    if (contents.state != FileState::kRead) contents.bytes.clear();
    return contents;
}

// A byte far past any end of file on which the holder of the lock also keeps a POSIX record
// lock (shared): flock() tells nobody who holds it, F_GETLK on this byte does.
constexpr off_t kHolderMarkByte = off_t{1} << 40;

// A record lock of `type` on the holder's mark byte.
struct flock HolderMark(short type) {
    struct flock mark {};
    mark.l_type = type;
    mark.l_whence = SEEK_SET;
    mark.l_start = kHolderMarkByte;
    mark.l_len = 1;
    return mark;
}

void MarkHolder(int fd) {
    struct flock mark = HolderMark(F_RDLCK);
    ::fcntl(fd, F_SETLK, &mark);  // only a name for the holder: the flock() is the lock
}

// The process holding the lock on `fd`'s file: its mark, else (Linux) the kernel's list of
// locks. 0 when it cannot be told.
pid_t LockHolder(int fd) {
    struct flock probe = HolderMark(F_WRLCK);
    if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0)
        return probe.l_pid;
    struct stat info {};
    if (::fstat(fd, &info) != 0) return 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:02:131 0 EOF"; waiters' lines carry "->".
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("->") != std::string::npos || line.find("FLOCK") == std::string::npos)
            continue;
        std::istringstream fields(line);
        std::string number, kind, advisory, access, device;
        long pid = 0;
        if (!(fields >> number >> kind >> advisory >> access >> pid >> device)) continue;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(device.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3) continue;
        if (major == ::major(info.st_dev) && minor == ::minor(info.st_dev) &&
            inode == info.st_ino && pid > 0)
            return static_cast<pid_t>(pid);
    }
    return 0;
}

std::string InUseText(const fs::path& shown, pid_t holder) {
    if (holder <= 0) return shown.string() + " is in use by another program";
    return shown.string() + " is in use by another Tollwick (pid " + std::to_string(holder) + ")";
}

// Takes the exclusive lock on `fd`, waiting as `wait` says. False with *error when the wait
// ended without it.
bool LockWaiting(int fd, const fs::path& shown, const LockWait& wait, std::string* error) {
    using Clock = std::chrono::steady_clock;
    if (!wait.limit && !wait.stop.stop_possible()) {
        int locked = 0;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked == 0) return true;
        Why(error, "cannot lock " + shown.string() + ": " + SystemText(errno));
        return false;
    }
    const auto deadline = wait.limit ? Clock::now() + *wait.limit : Clock::time_point::max();
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            Why(error, "cannot lock " + shown.string() + ": " + SystemText(errno));
            return false;
        }
        if (wait.stop.stop_requested()) {
            Why(error, "interrupted while waiting for " + shown.string() + " (" +
                           InUseText(shown, LockHolder(fd)) + ")");
            return false;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            Why(error, InUseText(shown, LockHolder(fd)));
            return false;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

// Opens the file that `target` names now and holds an exclusive lock on it; creates it (empty,
// with `mode`) when missing. A file renamed over `target` while we waited for its predecessor's
// lock is opened and locked afresh. -1 with *error on failure; *held gets the file's status.
int OpenLocked(const fs::path& target, const fs::path& shown, mode_t mode, const LockWait& wait,
               bool& created, struct stat& held, std::string* error) {
    for (;;) {
        created = false;
        // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open.
        int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(target.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd < 0 && errno == EEXIST) continue;
            created = fd >= 0;
        }
        if (fd < 0) {
            Why(error, "cannot open " + shown.string() + ": " + SystemText(errno));
            return -1;
        }
        if (!LockWaiting(fd, shown, wait, error)) {
            // A file made only to hold the lock goes again.
            if (created) ::unlink(target.c_str());
            ::close(fd);
            return -1;
        }
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(target.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            MarkHolder(fd);
            return fd;
        }
        ::close(fd);
    }
}

// The pid in a temporary file's name ".<name>.tmp-<pid>-XXXXXX", or 0.
pid_t TemporaryOwner(std::string_view entry, std::string_view prefix) {
    if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix) return 0;
    entry.remove_prefix(prefix.size());
    long pid = 0;
    const auto [end, ec] = std::from_chars(entry.data(), entry.data() + entry.size(), pid);
    if (ec != std::errc() || end == entry.data() || end == entry.data() + entry.size() ||
        *end != '-' || pid <= 0)
        return 0;
    return static_cast<pid_t>(pid);
}

// Removes the temporary files of `target` that processes killed during a rewrite left behind.
// Called under the lock, so no live rewrite of this file has one; a file whose process still
// runs (or may: another user's) is left alone all the same.
void RemoveStaleTemporaries(const fs::path& folder, const fs::path& target) {
    std::string prefix = target.filename().string();
    prefix.insert(0, 1, '.');
    prefix += ".tmp-";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = TemporaryOwner(entry->d_name, prefix);
        if (owner == 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

// A file nobody may write (0444), or that this user may not write, is kept as it is even where
// the folder would let it be replaced.
bool ReadOnly(const fs::path& target, const struct stat& held) {
    if ((held.st_mode & 0222) == 0) return true;
    return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// Puts `bytes` in place of `target`: a crash leaves either the old or the new file. The new file
// gets `mode`, and the owner and group of `held` where the process may give them.
bool ReplaceLocked(const fs::path& target, const fs::path& shown, std::string_view bytes,
                   mode_t mode, const struct stat* held, std::string* error) {
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    RemoveStaleTemporaries(folder, target);
    std::string name = target.filename().string();
    name.insert(0, 1, '.');
    name += ".tmp-" + std::to_string(::getpid()) + "-XXXXXX";
    std::string temp = (folder / name).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        Why(error, "cannot write in " + folder.string() + ": " + SystemText(errno));
        return false;
    }
    bool ok = true;
    // Root rewriting a user's file leaves it the user's. Anyone else cannot give a file away:
    // the group is kept where the user is in it.
    if (held && (held->st_uid != ::geteuid() || held->st_gid != ::getegid()) &&
        ::fchown(fd, held->st_uid, held->st_gid) != 0) {
        ok = ::geteuid() != 0;
        if (ok && ::fchown(fd, static_cast<uid_t>(-1), held->st_gid) != 0) {
            // the file becomes this user's, as with any program that saves by renaming
        }
    }
    // (after the owner: a change of owner clears the set-id bits)
    ok = ok && ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        Why(error, "cannot write " + shown.string() + ": " + SystemText(writeErrno));
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int renameErrno = errno;
        ::unlink(temp.c_str());
        Why(error, "cannot replace " + shown.string() + ": " + SystemText(renameErrno));
        return false;
    }
    // Make the rename itself durable; the new file is in place either way.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

FileContents ReadWholeFile(const fs::path& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        FileContents contents;
        contents.state =
            (errno == ENOENT || errno == ENOTDIR) ? FileState::kMissing : FileState::kUnusable;
        return contents;
    }
    FileContents contents = ReadOpenFile(fd, maxBytes);
    ::close(fd);
    return contents;
}

bool RewriteFileLocked(const fs::path& path, std::size_t maxBytes,
                       const std::function<std::optional<std::string>(const FileContents&)>& change,
                       std::string* error, const LockWait& wait) {
    const std::optional<fs::path> rewritten = RewriteTarget(path, error);
    if (!rewritten) return false;
    const fs::path& target = *rewritten;

    bool created = false;
    struct stat held {};
    const int fd = OpenLocked(target, path, kNewFileMode, wait, created, held, error);
    if (fd < 0) return false;
    FileContents contents;
    mode_t mode = kNewFileMode;
    if (!created) contents = ReadOpenFile(fd, maxBytes, &mode);
    const std::optional<std::string> bytes = change(contents);
    bool done = true;
    if (bytes && bytes->size() > maxBytes) {
        Why(error, path.string() + " would grow to " + std::to_string(bytes->size()) +
                       " bytes, more than " + std::to_string(maxBytes) +
                       " it may hold; it is left as it was");
        done = false;
    } else if (bytes && !created && ReadOnly(target, held)) {
        Why(error, path.string() + " is read-only");
        done = false;
    } else if (bytes) {
        done = ReplaceLocked(target, path, *bytes, mode, created ? nullptr : &held, error);
    }
    // The empty file made only to hold the lock goes again when nothing took its place.
    if (created && (!bytes || !done)) ::unlink(target.c_str());
    ::close(fd);
    return done;
}

}  // namespace tollwick
