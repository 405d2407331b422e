// The Windows twin of locked_file_posix.cpp. Windows differs in three ways that shape it:
// - a file that is open cannot be replaced unless every handle shares delete access, so the lock
//   is not held on the file itself but on a sidecar "<name>.lock" (LockFileEx), which stays. The
//   lock covers one byte far past its end; its first bytes name the holder's pid, for those who
//   wait. (Earlier versions locked the whole sidecar: the two still exclude each other.);
// - the replacement is MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH over
//   a temporary file written with FILE_FLAG_WRITE_THROUGH and flushed (FlushFileBuffers);
// - virus scanners and indexers open a freshly written file for a moment without sharing it, so
//   a sharing violation is retried for a short while before it counts as a failure;
// - the read-only attribute stands for POSIX's mode without write bits. A file's owner is not
//   carried over: the replacement belongs to whoever rewrote it (its DACL is copied), as POSIX
//   can only keep when root rewrites.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "files/locked_file.h"
#include "files/rewrite_target.h"
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

// The byte of the sidecar that the lock covers: far past its end, so that its first bytes, the
// holder's pid, can be read while it is held.
constexpr DWORD kLockOffsetHigh = 0x100;

bool TryLock(HANDLE handle, bool wait) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0,
                      1, 0, &at);
}

// The pid the holder of the sidecar's lock wrote into it; 0 when unknown.
DWORD LockHolder(HANDLE handle) {
    char text[16] = {};
    DWORD got = 0;
    OVERLAPPED at{};
    if (!ReadFile(handle, text, sizeof text - 1, &got, &at)) return 0;
    return static_cast<DWORD>(std::strtoul(text, nullptr, 10));
}

void NameHolder(HANDLE handle) {
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
    DWORD written = 0;
    OVERLAPPED at{};
    if (WriteFile(handle, pid.data(), static_cast<DWORD>(pid.size()), &written, &at)) {
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(pid.size());
        if (SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    }
}

std::string InUseText(const fs::path& shown, DWORD holder) {
    if (holder == 0) return PathToUtf8(shown) + " is in use by another program";
    return PathToUtf8(shown) + " is in use by another Tollwick (pid " + std::to_string(holder) +
           ")";
}

// The sidecar that the rewrites of `target` take turns on, locked. Waits for the program before
// us as `wait` says. Invalid, with *error, when it cannot be had.
HANDLE LockSidecar(const fs::path& target, const fs::path& shown, const LockWait& wait,
                   std::string* error) {
    using Clock = std::chrono::steady_clock;
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
    const bool waitsForever = !wait.limit && !wait.stop.stop_possible();
    const auto deadline = wait.limit ? Clock::now() + *wait.limit : Clock::time_point::max();
    auto pause = std::chrono::milliseconds(1);
    while (!TryLock(handle, waitsForever)) {
        const DWORD code = GetLastError();
        if (waitsForever || code != ERROR_LOCK_VIOLATION) {
            Why(error, Describe("cannot lock", sidecar, code));
            CloseHandle(handle);
            return INVALID_HANDLE_VALUE;
        }
        const auto now = Clock::now();
        if (wait.stop.stop_requested() || now >= deadline) {
            const std::string busy = InUseText(shown, LockHolder(handle));
            Why(error, wait.stop.stop_requested() ? "interrupted while waiting for " +
                                                        PathToUtf8(shown) + " (" + busy + ")"
                                                  : busy);
            CloseHandle(handle);
            return INVALID_HANDLE_VALUE;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    NameHolder(handle);
    return handle;  // closing the handle releases the lock
}

// The pid in a temporary file's name ".<name>.tmp-<pid>-<random>", or 0.
DWORD TemporaryOwner(const std::wstring& entry, const std::wstring& prefix) {
    if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) return 0;
    const wchar_t* digits = entry.c_str() + prefix.size();
    wchar_t* end = nullptr;
    const unsigned long pid = std::wcstoul(digits, &end, 10);
    if (end == digits || *end != L'-') return 0;
    return static_cast<DWORD>(pid);
}

bool ProcessGone(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool gone = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

// Removes the temporary files of `target` that processes killed during a rewrite left behind.
// Called under the lock; a file whose process still runs is left alone all the same.
void RemoveStaleTemporaries(const fs::path& target) {
    const std::wstring prefix = L"." + target.filename().native() + L".tmp-";
    const fs::path pattern = target.parent_path() / (prefix + L"*");
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const DWORD owner = TemporaryOwner(found.cFileName, prefix);
        if (owner == 0 || owner == GetCurrentProcessId() ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !ProcessGone(owner))
            continue;
        DeleteFileW((target.parent_path() / found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A temporary file beside `target`, created empty for writing: ".<name>.tmp-<random>".
HANDLE CreateTemporary(const fs::path& target, fs::path& temp, SECURITY_ATTRIBUTES* security,
                       DWORD& code) {
    static thread_local std::mt19937_64 random{std::random_device{}() ^
                                               static_cast<std::uint64_t>(GetCurrentProcessId())};
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[48];
        swprintf(suffix, sizeof suffix / sizeof *suffix, L".tmp-%lu-%012llx",
                 static_cast<unsigned long>(GetCurrentProcessId()),
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
    RemoveStaleTemporaries(target);
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
                       std::string* error, const LockWait& wait) {
    const std::optional<fs::path> rewritten = RewriteTarget(path, error);
    if (!rewritten) return false;
    const fs::path& target = *rewritten;

    Handle lock(LockSidecar(target, path, wait, error));
    if (!lock.valid()) return false;
    Handle old;
    const FileContents contents = ReadPath(target, maxBytes, old);
    const std::optional<std::string> bytes = change(contents);
    if (!bytes) return true;
    if (bytes->size() > maxBytes) {
        Why(error, PathToUtf8(path) + " would grow to " + std::to_string(bytes->size()) +
                       " bytes, more than " + std::to_string(maxBytes) +
                       " it may hold; it is left as it was");
        return false;
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        Why(error, PathToUtf8(path) + " is read-only");
        return false;
    }
    return ReplaceLocked(target, old, *bytes, error);
}

}  // namespace tollwick
