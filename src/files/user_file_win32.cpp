// The Windows twin of user_file_posix.cpp. Links are taken as the system takes them: Windows has
// no sticky folder that every user writes to (each user's temporary folder is their own, and a
// shared folder gives a user's files to that user alone), and making a symbolic link takes a
// privilege that only administrators, or developer mode, grant. A planted link, the attack the
// POSIX rule stops, has no counterpart here, so FollowLinks follows nothing itself: CreateFileW
// follows a link when the file is opened.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <random>

#include "files/user_file.h"
#include "files/utf8_path.h"
#include "files/win32_security.h"
#include "files/win32_text.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

struct Identity {
    DWORD volume = 0;
    ULONGLONG index = 0;
    std::wstring name;  // for a file not yet there: its name in the folder volume/index (lower)
    bool operator==(const Identity&) const = default;
};

// The volume and file id of a file or folder that is there (links followed).
bool IdOf(const fs::path& path, Identity& id) {
    HANDLE handle =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

Identity IdentityOf(const fs::path& path) {
    Identity id;
    if (IdOf(path, id)) return id;
    fs::path folder = path.parent_path();
    if (folder.empty()) folder = L".";
    // File names on Windows are the same whatever their case.
    std::wstring name = path.filename().native();
    for (wchar_t& ch : name) ch = static_cast<wchar_t>(std::towlower(ch));
    if (IdOf(folder, id)) {
        id.name = name;
        return id;
    }
    std::error_code error;
    id.name = fs::weakly_canonical(fs::absolute(path, error), error).native();
    for (wchar_t& ch : id.name) ch = static_cast<wchar_t>(std::towlower(ch));
    return id;
}

// A new file "<prefix><pid>-<random>" in `folder`, made here and now (CREATE_NEW: never a file
// that was there before), the user's alone. INVALID_HANDLE_VALUE with GetLastError set.
HANDLE CreateNew(const fs::path& folder, const std::wstring& prefix,
                 OwnerOnlyFileSecurity& ownerOnly, fs::path& path) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = folder /
               (prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(random()));
        HANDLE handle =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, ownerOnly.Attributes(), CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return handle;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

std::FILE* CreatePrivateFile(const fs::path& folder, const std::string& prefix, fs::path& path,
                             std::string* error) {
    OwnerOnlyFileSecurity ownerOnly;
    HANDLE handle = ownerOnly.Attributes()
                        ? CreateNew(folder, WideFromUtf8(prefix), ownerOnly, path)
                        : INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE) {
        if (error) {
            *error = "cannot create a file in " + PathToUtf8(folder) + ": " +
                     Win32ErrorText(GetLastError());
        }
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (file == nullptr) {
        if (fd >= 0) {
            _close(fd);
        } else {
            CloseHandle(handle);
        }
        DeleteFileW(path.c_str());
        if (error) *error = "cannot create a file in " + PathToUtf8(folder);
    }
    return file;
}

LinkTarget FollowLinks(const fs::path& path) {
    return {path, {}};
}

bool SameFile(const fs::path& a, const fs::path& b) {
    if (a == "-" || b == "-") return false;
    return IdentityOf(a) == IdentityOf(b);
}

bool ReplaceFileWith(const fs::path& path, std::string_view bytes, std::string* error) {
    std::string ignored;
    std::string& why = error ? *error : ignored;
    fs::path folder = path.parent_path();
    if (folder.empty()) folder = L".";
    OwnerOnlyFileSecurity ownerOnly;
    if (!ownerOnly.Attributes()) {
        why = "cannot write " + PathToUtf8(path) + ": " + Win32ErrorText(GetLastError());
        return false;
    }
    fs::path temporary;
    HANDLE handle =
        CreateNew(folder, L"." + path.filename().native() + L".tmp-", ownerOnly, temporary);
    if (handle == INVALID_HANDLE_VALUE) {
        why =
            "cannot create a file in " + PathToUtf8(folder) + ": " + Win32ErrorText(GetLastError());
        return false;
    }
    bool done = true;
    while (done && !bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
        done = WriteFile(handle, bytes.data(), chunk, &written, nullptr) && written > 0;
        bytes.remove_prefix(written);
    }
    done = done && FlushFileBuffers(handle);
    DWORD code = done ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    if (done && !MoveFileExW(temporary.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        code = GetLastError();
        done = false;
    }
    if (!done) {
        DeleteFileW(temporary.c_str());
        why = "cannot write " + PathToUtf8(path) + ": " + Win32ErrorText(code);
    }
    return done;
}

}  // namespace tollwick
