#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "files/posix_write.h"
#include "files/user_file.h"
#include "files/utf8_path.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

// The kernel's own limit of links followed for one name.
constexpr int kMostLinks = 40;

fs::path FolderOf(const fs::path& path) {
    const fs::path folder = path.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// A link the protected-symlinks rule lets this user follow: one outside a sticky folder that
// everyone may write to, or one that the user or the folder's owner made.
bool MayFollow(const struct stat& link, const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return true;  // the open that follows says why
    const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == info.st_uid;
}

LinkTarget Follow(const fs::path& path, bool protectedRule) {
    fs::path current = path;
    for (int hop = 0; hop < kMostLinks; ++hop) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return {current, {}};
        const fs::path folder = FolderOf(current);
        if (protectedRule && !MayFollow(link, folder)) {
            return {current, "a symbolic link that another user put in the shared folder " +
                                 PathToUtf8(folder) + " is not followed"};
        }
        std::vector<char> text(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 4095) +
                               1);
        const ssize_t length = ::readlink(current.c_str(), text.data(), text.size());
        if (length < 0 || static_cast<std::size_t>(length) >= text.size()) return {current, {}};
        const fs::path target(std::string(text.data(), static_cast<std::size_t>(length)));
        current = target.is_absolute() ? target : folder / target;
    }
    return {current, std::strerror(ELOOP)};
}

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // for a file not yet there: its name in the folder device/inode
    bool operator==(const Identity&) const = default;
};

Identity IdentityOf(const fs::path& path) {
    const fs::path target = Follow(path, false).path;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) return {info.st_dev, info.st_ino, {}};
    if (::stat(FolderOf(target).c_str(), &info) == 0) {
        return {info.st_dev, info.st_ino, target.filename().native()};
    }
    std::error_code error;
    return {0, 0, fs::weakly_canonical(fs::absolute(target, error), error).native()};
}

std::string Failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A new file "<prefix><pid>-<random>" in `folder`, made here and now (never a file or a link that
// was there before), the owner's alone. Its descriptor, or -1 with errno set.
int CreateNew(const fs::path& folder, const std::string& prefix, fs::path& path) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = folder / (prefix + std::to_string(::getpid()) + "-" + std::to_string(random()));
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::FILE* CreatePrivateFile(const fs::path& folder, const std::string& prefix, fs::path& path,
                             std::string* error) {
    const int fd = CreateNew(folder, prefix, path);
    std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (file == nullptr) {
        if (error) *error = Failure("cannot create a file in " + PathToUtf8(folder));
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
        }
    }
    return file;
}

LinkTarget FollowLinks(const fs::path& path) {
    return Follow(path, true);
}

bool SameFile(const fs::path& a, const fs::path& b) {
    if (a == "-" || b == "-") return false;
    return IdentityOf(a) == IdentityOf(b);
}

bool ReplaceFileWith(const fs::path& path, std::string_view bytes, std::string* error) {
    std::string ignored;
    std::string& why = error ? *error : ignored;
    const LinkTarget target = FollowLinks(path);
    if (!target.refusal.empty()) {
        why = PathToUtf8(path) + ": " + target.refusal;
        return false;
    }
    const fs::path folder = FolderOf(target.path);
    fs::path temporary;
    const int fd = CreateNew(folder, "." + target.path.filename().native() + ".tmp-", temporary);
    if (fd < 0) {
        why = Failure("cannot create a file in " + PathToUtf8(folder));
        return false;
    }
    bool done = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (!done) why = Failure("cannot write " + PathToUtf8(path));
    if (::close(fd) != 0 && done) {
        why = Failure("cannot write " + PathToUtf8(path));
        done = false;
    }
    if (done && ::rename(temporary.c_str(), target.path.c_str()) != 0) {
        why = Failure("cannot replace " + PathToUtf8(path));
        done = false;
    }
    if (!done) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename reaches the disk with the folder.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

}  // namespace tollwick
