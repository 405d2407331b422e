#include "files/locked_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

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

// Opens the file that `target` names now and holds an exclusive lock on it; creates it (empty,
// with `mode`) when missing. A file renamed over `target` while we waited for its predecessor's
// lock is opened and locked afresh. -1 with *error on failure.
int OpenLocked(const fs::path& target, mode_t mode, bool& created, std::string* error) {
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
            Why(error, "cannot open " + target.string() + ": " + SystemText(errno));
            return -1;
        }
        int locked = 0;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            Why(error, "cannot lock " + target.string() + ": " + SystemText(errno));
            ::close(fd);
            return -1;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(target.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return fd;
        }
        ::close(fd);
    }
}

// Puts `bytes` in place of `target`: a crash leaves either the old or the new file.
bool ReplaceLocked(const fs::path& target, std::string_view bytes, mode_t mode,
                   std::string* error) {
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string name = target.filename().string();
    name.insert(0, 1, '.');
    name += ".tmp-XXXXXX";
    std::string temp = (folder / name).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        Why(error, "cannot write in " + folder.string() + ": " + SystemText(errno));
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        Why(error, "cannot write " + target.string() + ": " + SystemText(writeErrno));
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int renameErrno = errno;
        ::unlink(temp.c_str());
        Why(error, "cannot replace " + target.string() + ": " + SystemText(renameErrno));
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
                       std::string* error) {
    // Through a symbolic link the file it names is rewritten, not the link.
    fs::path target = path;
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec) target = std::move(resolved);
    }
    const fs::path folder = target.parent_path();
    if (!folder.empty()) {
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec)) {
            Why(error, "cannot create the folder " + folder.string());
            return false;
        }
    }

    bool created = false;
    const int fd = OpenLocked(target, kNewFileMode, created, error);
    if (fd < 0) return false;
    FileContents contents;
    mode_t mode = kNewFileMode;
    if (!created) contents = ReadOpenFile(fd, maxBytes, &mode);
    const std::optional<std::string> bytes = change(contents);
    bool done = true;
    if (bytes) {
        done = ReplaceLocked(target, *bytes, mode, error);
    }
    // The empty file made only to hold the lock goes again when nothing took its place.
    if (created && (!bytes || !done)) ::unlink(target.c_str());
    ::close(fd);
    return done;
}

}  // namespace tollwick
