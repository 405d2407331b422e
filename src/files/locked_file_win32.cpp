// The Windows twin of locked_file_posix.cpp. Windows differs in three ways that shape it:
// - a file that is open cannot be replaced unless every handle shares delete access, so the lock
//   is not held on the file itself but on a sidecar "<name>.lock" (LockFileEx), which stays;
// - the replacement is MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH over
//   a temporary file written with FILE_FLAG_WRITE_THROUGH and flushed (FlushFileBuffers);
// - virus scanners and indexers open a freshly written file for a moment without sharing it, so
//   a sharing violation is retried for a short while before it counts as a failure.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <utility>

#include "files/locked_file.h"
#include "files/utf8_path.h"
#include "files/win32_security.h"
#include "files/win32_text.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

// How long a file held open by another program is waited for, in steps.
constexpr auto kBusyRetryStep = std::chrono::milliseconds(50);
constexpr int kBusyRetries = 40;  // 2 s in all

void Why(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string Describe(const std::string& what, const fs::path& path, DWORD code) {
    return what + " " + PathToUtf8(path) + ": " + Win32ErrorText(code);
}

// Errors that another program holding the file open causes, and that go away when it lets go.
bool Busy(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
           code == ERROR_ACCESS_DENIED;
}

class Handle {
  public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        const bool ok = !valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

  private:
    HANDLE handle_;
};

// Opens an existing file for reading, shared in every way, so that neither readers nor the
// replacement of the file are kept out. Waits out a program that holds it unshared.
HANDLE OpenForReading(const fs::path& path, DWORD& code) {
    for (int attempt = 0;; ++attempt) {
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        code = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (handle != INVALID_HANDLE_VALUE || code != ERROR_SHARING_VIOLATION ||
            attempt == kBusyRetries) {
            return handle;
        }
        std::this_thread::sleep_for(kBusyRetryStep);
    }
}

// Reads what `file` holds, as ReadWholeFile describes.
FileContents ReadOpenFile(HANDLE file, std::size_t maxBytes) {
    FileContents contents;
    contents.state = FileState::kUnusable;
    LARGE_INTEGER size{};
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(file, &size) ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
        return contents;
    }
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) break;
        if (got == 0) {
            contents.state = FileState::kRead;
            break;
        }
        contents.bytes.append(buffer, got);
        if (contents.bytes.size() > maxBytes) break;  // grew while being read
    }
    if (contents.state != FileState::kRead) contents.bytes.clear();
    return contents;
}

FileContents ReadPath(const fs::path& path, std::size_t maxBytes, Handle& file) {
    DWORD code = ERROR_SUCCESS;
    Handle opened(OpenForReading(path, code));
    if (!opened.valid()) {
        FileContents contents;
        contents.state = (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
                             ? FileState::kMissing
                             : FileState::kUnusable;
        return contents;
    }
    FileContents contents = ReadOpenFile(opened.get(), maxBytes);
    file = std::move(opened);
    return contents;
}

// The sidecar that the rewrites of `target` take turns on, locked whole. Blocks until the
// program before us is done. Invalid, with *error, when it cannot be had.
HANDLE LockSidecar(const fs::path& target, std::string* error) {
    fs::path sidecar = target;
    sidecar += L".lock";
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
        handle = CreateFileW(sidecar.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle != INVALID_HANDLE_VALUE) break;
        const DWORD code = GetLastError();
        if (!Busy(code) || attempt == kBusyRetries) {
            Why(error, Describe("cannot open the lock file", sidecar, code));
            return INVALID_HANDLE_VALUE;
        }
        std::this_thread::sleep_for(kBusyRetryStep);
    }
    OVERLAPPED whole{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        Why(error, Describe("cannot lock", sidecar, GetLastError()));
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;  // closing the handle releases the lock
}

// A temporary file beside `target`, created empty for writing: ".<name>.tmp-<random>".
HANDLE CreateTemporary(const fs::path& target, fs::path& temp, SECURITY_ATTRIBUTES* security,
                       DWORD& code) {
    static thread_local std::mt19937_64 random{std::random_device{}() ^
                                               static_cast<std::uint64_t>(GetCurrentProcessId())};
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[24];
        swprintf(suffix, sizeof suffix / sizeof *suffix, L".tmp-%012llx",
                 static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        temp = target.parent_path() / (L"." + target.filename().native() + suffix);
        HANDLE handle =
            CreateFileW(temp.c_str(), GENERIC_WRITE | WRITE_DAC | READ_CONTROL, 0, security,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return handle;
        code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Puts `bytes` in place of `target` (whose current version is open as `old`, or not there): a
// crash leaves either the old or the new file.
bool ReplaceLocked(const fs::path& target, Handle& old, std::string_view bytes,
                   std::string* error) {
    OwnerOnlyFileSecurity ownerOnly;
    if (!ownerOnly.Attributes()) {
        Why(error, Describe("cannot make a file for the owner alone for", target, GetLastError()));
        return false;
    }
    fs::path temp;
    DWORD code = ERROR_SUCCESS;
    Handle file(CreateTemporary(target, temp, ownerOnly.Attributes(), code));
    if (!file.valid()) {
        fs::path folder = target.parent_path();
        if (folder.empty()) folder = L".";
        Why(error, Describe("cannot write in", folder, code));
        return false;
    }
    // The replacement starts private and takes on the old file's permissions; should they not
    // carry over, it stays private rather than more open than before.
    if (old.valid()) CopyDacl(old.get(), file.get());
    old.Close();
    bool ok = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    code = ok ? ERROR_SUCCESS : GetLastError();
    ok = file.Close() && ok;
    if (!ok) {
        DeleteFileW(temp.c_str());
        Why(error, Describe("cannot write", target, code));
        return false;
    }
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temp.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        code = GetLastError();
        if (!Busy(code) || attempt == kBusyRetries) break;
        std::this_thread::sleep_for(kBusyRetryStep);
    }
    DeleteFileW(temp.c_str());
    std::string text = Describe("cannot replace", target, code);
    if (Busy(code)) text += " (another program kept it open)";
    Why(error, text);
    return false;
}

}  // namespace

FileContents ReadWholeFile(const fs::path& path, std::size_t maxBytes) {
    Handle file;
    return ReadPath(path, maxBytes, file);
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
            Why(error, "cannot create the folder " + PathToUtf8(folder));
            return false;
        }
    }

    Handle lock(LockSidecar(target, error));
    if (!lock.valid()) return false;
    Handle old;
    const FileContents contents = ReadPath(target, maxBytes, old);
    const std::optional<std::string> bytes = change(contents);
    if (!bytes) return true;
    return ReplaceLocked(target, old, *bytes, error);
}

}  // namespace tollwick
