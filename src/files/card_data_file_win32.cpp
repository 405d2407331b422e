#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "files/card_data_file.h"
#include "files/win32_security.h"
#include "files/win32_text.h"

namespace tollwick {
namespace {

int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

HANDLE HandleOf(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

}  // namespace

bool OpenCardFileToRead(const std::string& path, std::ifstream& in) {
    // Looked at first: a read of a pipe or a console (\\.\pipe\..., CON) waits for a writer.
    const std::wstring name = WideFromUtf8(path);
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());  // a folder too: it opens only with backup semantics
        return false;
    }
    const bool onDisk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    if (!onDisk) {
        errno = EINVAL;
        return false;
    }
    in.open(std::filesystem::path(name), std::ios::binary);
    return in.is_open();
}

std::FILE* OpenCardDataFile(const std::string& path) {
    OwnerOnlyFileSecurity ownerOnly;  // used only when the file is created
    if (!ownerOnly.Attributes()) {
        errno = ErrnoOf(GetLastError());
        return nullptr;
    }
    // Shared for reading and writing: a user may look at the file while cards are recorded.
    HANDLE handle =
        CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    ownerOnly.Attributes(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "ab");
    if (file == nullptr) _close(fd);
    return file;
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    const HANDLE handle = HandleOf(file);
    if (GetFileType(handle) != FILE_TYPE_DISK) return true;
    if (FlushFileBuffers(handle)) return true;
    errno = ErrnoOf(GetLastError());
    return false;
}

bool IsEmptyFile(std::FILE* file) {
    const HANDLE handle = HandleOf(file);
    LARGE_INTEGER size{};
    return GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size) ||
           size.QuadPart == 0;
}

}  // namespace tollwick
