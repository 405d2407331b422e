#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

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

// The appenders of one file take turns by a lock on a byte far past any card file's end: no
// data is ever locked, so readers of the file are never kept out.
constexpr DWORD kAppendLockOffsetHigh = 0x7FFFFFFF;

bool WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) {
            errno = ErrnoOf(GetLastError());
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
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

// Links are followed as the system follows them: see user_file_win32.cpp for why Windows needs no
// rule of its own against planted links. OPEN_ALWAYS applies the owner-only DACL only to a file
// it creates, which is what O_EXCL makes sure of on POSIX.
std::FILE* OpenCardDataFile(const std::string& path, std::string*) {
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

bool AppendWhole(std::FILE* file, std::string_view bytes, bool* restored) {
    if (restored) *restored = false;
    if (std::fflush(file) != 0) return false;
    // Written past the C library: a short write must leave nothing in a buffer to come out later.
    const HANDLE handle = HandleOf(file);
    if (GetFileType(handle) != FILE_TYPE_DISK) return WriteAll(handle, bytes);
    OVERLAPPED lockAt{};
    lockAt.OffsetHigh = kAppendLockOffsetHigh;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt)) {
        errno = ErrnoOf(GetLastError());
        return false;
    }
    LARGE_INTEGER before{};
    bool done =
        GetFileSizeEx(handle, &before) && SetFilePointerEx(handle, before, nullptr, FILE_BEGIN);
    if (!done) errno = ErrnoOf(GetLastError());
    done = done && WriteAll(handle, bytes);
    if (done && !FlushFileBuffers(handle)) {
        errno = ErrnoOf(GetLastError());
        done = false;
    }
    const int error = errno;
    if (!done) {
        const bool cut = SetFilePointerEx(handle, before, nullptr, FILE_BEGIN) &&
                         SetEndOfFile(handle) && FlushFileBuffers(handle);
        if (restored) *restored = cut;
    }
    UnlockFileEx(handle, 0, 1, 0, &lockAt);
    errno = error;
    return done;
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

std::unique_ptr<StoppableInput> StoppableInput::Open(const std::string& path,
                                                     std::stop_token stop) {
    if (path == "-") {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        return std::unique_ptr<StoppableInput>(
            new StoppableInput(reinterpret_cast<std::intptr_t>(input), false, stop));
    }
    const std::wstring name = WideFromUtf8(path);
    std::error_code error;
    if (std::filesystem::is_directory(std::filesystem::path(name), error)) {
        errno = EISDIR;
        return nullptr;
    }
    // A named pipe opens at once; its reads wait below.
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return nullptr;
    }
    return std::unique_ptr<StoppableInput>(
        new StoppableInput(reinterpret_cast<std::intptr_t>(handle), true, stop));
}

StoppableInput::~StoppableInput() {
    if (owned_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

long StoppableInput::ReadSome(char* into, std::size_t size) {
    const HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    const DWORD type = GetFileType(handle);
    for (;;) {
        if (stop_.stop_requested()) {
            stopped_ = true;
            return 0;
        }
        DWORD wanted = static_cast<DWORD>(size);
        if (type == FILE_TYPE_PIPE) {
            // A pipe's read waits for its writer: read only what is there, look again later.
            DWORD waiting = 0;
            if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &waiting, nullptr)) {
                if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer is done
                errno = ErrnoOf(GetLastError());
                failed_ = true;
                return 0;
            }
            if (waiting == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kInputSliceMs));
                continue;
            }
            wanted = std::min(wanted, waiting);
        } else if (type == FILE_TYPE_CHAR &&
                   WaitForSingleObject(handle, kInputSliceMs) == WAIT_TIMEOUT) {
            // A console: its read goes on once a key was pressed (until Enter; Ctrl+C ends it).
            continue;
        }
        DWORD got = 0;
        if (ReadFile(handle, into, wanted, &got, nullptr)) return static_cast<long>(got);
        if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) return 0;
        if (GetLastError() == ERROR_OPERATION_ABORTED) continue;
        errno = ErrnoOf(GetLastError());
        failed_ = true;
        return 0;
    }
}

}  // namespace tollwick
