// The files a user names (card files, CSV files, exports, and the deck and profile as names):
// which file a name stands for, which symbolic links may be followed to it, and a file replaced
// whole in one step. One interface, one implementation per platform (user_file_posix.cpp,
// user_file_win32.cpp).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tollwick {

// Where a name leads once the symbolic links of its last part are followed, link after link.
// A link in a folder that every user may write to and that has the sticky bit (/tmp) is followed
// only when it belongs to the user running the program or to the folder's owner: another user
// could have planted it there to make this program (root, say) write into a file of their
// choosing. The kernel has the same rule (fs.protected_symlinks) but not every system turns it
// on. `path` is where the name leads (the name itself when it is no link; the place a dangling
// link names); `refusal` says why a link was not followed, and is empty when it was.
struct LinkTarget {
    std::filesystem::path path;
    std::string refusal;  // "cards.txt is a symbolic link that another user put in /tmp; ..."
};
LinkTarget FollowLinks(const std::filesystem::path& path);

// True when the two names stand for one file: the same file once both are followed to where
// they lead (device and inode; on Windows volume and file id), and for a file not yet there,
// the same name in the same folder. Links are followed as the programs follow them, so a
// dangling link to a file is the same file as the file's own name. "-" is standard input or
// output and never a file of the disk.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// One name of the run and the role it plays ("--deck", "--to-file", "the profile").
struct NamedFile {
    std::string role;
    std::string path;  // UTF-8; empty when the role is not played in this run
};
// The first two roles given one file (SameFile), as "--deck and --to-file name the same file
// (cards.json)"; empty when each file plays one role. A file in two roles is read in one and
// written in the other, or written twice at once: its records are lost or corrupted.
std::string SharedFileProblem(const std::vector<NamedFile>& files);

// Replaces the file at `path` by `bytes` in one step: they go to a new file in the same folder,
// created 0600 (on Windows a DACL for the user and SYSTEM) with a name nobody else has, reach
// the disk and then take the old file's place by a rename. A crash leaves the old file or the
// new one; the file at `path` is always the program's own new file, never a file that a link
// or another user put there, and never readable by others. A link is followed by FollowLinks'
// rule: the file it leads to is replaced and the link stays (on Windows the link itself is
// replaced). False, with the reason in *error,
// when it could not be written (the old file is then as it was).
bool ReplaceFileWith(const std::filesystem::path& path, std::string_view bytes,
                     std::string* error = nullptr);

// Creates a new file in `folder`, named `prefix` and a part nobody else has, for this program
// alone: made by this call (O_EXCL|O_NOFOLLOW; CREATE_NEW), never a file or a link that another
// user put there, and readable by its owner only (mode 0600; on Windows a DACL for the user and
// SYSTEM). Its name in `path`; open for writing, in binary. nullptr, with the reason in *error,
// when it cannot be made.
std::FILE* CreatePrivateFile(const std::filesystem::path& folder, const std::string& prefix,
                             std::filesystem::path& path, std::string* error = nullptr);

}  // namespace tollwick
