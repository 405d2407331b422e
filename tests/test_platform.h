// What the tests need of the platform, on POSIX and on Windows (where they run under wine): a
// scratch folder, the environment, child processes with their output in files, and the same
// test run in several processes at once.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tollwick::testing {

namespace fs = std::filesystem;

// A fresh folder for the running test, removed at its end. In a process started by
// InChildProcesses it is the parent's folder, which the parent removes.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
    bool owned_ = true;
};

// Sets (or with nullptr removes) a variable of this process's environment; UTF-8. On Windows
// an empty value removes it too.
void SetEnvironment(const std::string& name, const char* value);
// Makes the C library read TZ again.
void ReadTimeZoneAgain();

// Words of a command line as sh splits them, for the quoting the tests use: blanks separate
// words, and '...' is taken literally.
std::vector<std::string> SplitWords(const std::string& line);

// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const fs::path& path);

// The exit status (-1 when it did not exit) and the output, standard error included, of a
// command line that sh runs. POSIX.
std::pair<int, std::string> RunShell(const std::string& command);

// This test program's own path.
fs::path ThisProgram();

// A program started with its standard streams in files of `dir` (stdin.txt, stdout.txt,
// stderr.txt), which may be read while it runs.
class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;
    struct Options {
        std::string stdinText;
        long fileSizeLimit = -1;  // bytes; writes beyond fail. POSIX only (RLIMIT_FSIZE)
        std::vector<std::pair<std::string, std::string>> environment{};  // added to this one's
    };
    struct Result {
        int status = -1;  // exit status; on POSIX 128 + signal for a program a signal ended
        std::string out;
        std::string err;
        Clock::duration took{};
    };

    ChildProcess(const fs::path& program, const std::vector<std::string>& arguments,
                 const fs::path& dir, const Options& options);
    ~ChildProcess();  // a program still running is killed
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits until the standard output so far satisfies `enough`; false when `limit` passes.
    bool ReadUntil(const std::function<bool(const std::string&)>& enough,
                   std::chrono::seconds limit = std::chrono::seconds(20));

    // What Ctrl+C does: SIGINT; on Windows Ctrl+Break to the program's process group (the
    // program was started in one of its own). False when it could not be sent: wine delivers
    // no console events to a program without a console.
    bool Interrupt();
    // SIGTERM; false on Windows, which has no such request.
    bool Terminate();
    // Ends the program at once (SIGKILL; TerminateProcess).
    void Kill();

    // Waits for the end; a program still running after `limit` is killed.
    Result Wait(std::chrono::seconds limit = std::chrono::seconds(20));

    static int KilledStatus();  // the status Wait gives for a program that Kill ended

  private:
    struct Handles;
    Handles* handles_;
    bool reaped_ = false;
    fs::path out_;
    fs::path err_;
    Clock::time_point start_;
};

// Runs `body(c)` for c = 0 .. count - 1 in `count` processes at once: this test program again,
// for the running test alone, which then runs body instead of the rest of the test. In them
// every ScratchFolder is `folder` (the test's own). True when every body returned true.
bool InChildProcesses(int count, const fs::path& folder, const std::function<bool(int)>& body);

}  // namespace tollwick::testing
