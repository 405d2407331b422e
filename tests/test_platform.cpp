#include "test_platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "files/win32_text.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tollwick::testing {
namespace {

// Set in the processes that InChildProcesses starts: the child's number and the shared folder.
constexpr const char* kChildVariable = "TOLLWICK_TEST_CHILD";
constexpr const char* kScratchVariable = "TOLLWICK_TEST_SCRATCH";

std::string TestName() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return test ? std::string(test->test_suite_name()) + "." + test->name() : "none";
}

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

}  // namespace

ScratchFolder::ScratchFolder(const std::string& prefix) {
    if (const char* shared = std::getenv(kScratchVariable)) {
        path_ = shared;
        owned_ = false;
        return;
    }
    std::string name = TestName();
    for (char& ch : name) {
        if (ch == '/' || ch == '.') ch = '-';
    }
    path_ = fs::temp_directory_path() / (prefix + "-" + std::to_string(ProcessId()) + "-" + name);
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    if (owned_) fs::remove_all(path_, ignored);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void SetEnvironment(const std::string& name, const char* value) {
#ifdef _WIN32
    // In UTF-16: the narrow form would take the value in the ANSI code page.
    _wputenv_s(WideFromUtf8(name).c_str(), WideFromUtf8(value ? value : "").c_str());
#else
    value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
#endif
}

void ReadTimeZoneAgain() {
#ifdef _WIN32
    _tzset();
#else
    ::tzset();
#endif
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (ch == '\'') {
            const std::size_t end = line.find('\'', i + 1);
            word += line.substr(i + 1, end - i - 1);
            i = end == std::string::npos ? line.size() : end;
            inWord = true;
        } else if (ch == ' ') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += ch;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

#ifdef _WIN32

namespace {

// One argument of a Windows command line, quoted as the C runtime splits it again.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t ch : argument) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(ch == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += ch;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

HANDLE Inheritable(const fs::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

struct ChildProcess::Handles {
    PROCESS_INFORMATION process{};
};

fs::path ThisProgram() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return fs::path(path);
}

ChildProcess::ChildProcess(const fs::path& program, const std::vector<std::string>& arguments,
                           const fs::path& dir, const Options& options)
    : handles_(new Handles),
      out_(dir / "stdout.txt"),
      err_(dir / "stderr.txt"),
      start_(Clock::now()) {
    std::ofstream(dir / "stdin.txt", std::ios::binary) << options.stdinText;
    std::wstring line = Quoted(program.native());
    for (const std::string& argument : arguments) line += L" " + Quoted(WideFromUtf8(argument));
    // The environment: this one's, with the options' variables in place.
    std::vector<std::string> saved;
    for (const auto& [name, value] : options.environment) {
        const char* old = std::getenv(name.c_str());
        saved.push_back(old ? old : "");
        SetEnvironment(name, value.c_str());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(dir / "stdin.txt", false);
    startup.hStdOutput = Inheritable(out_, true);
    startup.hStdError = Inheritable(err_, true);
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                                        nullptr, nullptr, &startup, &handles_->process);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(h);
    for (std::size_t i = 0; i < saved.size(); ++i) {
        SetEnvironment(options.environment[i].first, saved[i].empty() ? nullptr : saved[i].c_str());
    }
    if (!started) ADD_FAILURE() << "cannot start " << program << ": " << GetLastError();
}

ChildProcess::~ChildProcess() {
    if (handles_->process.hProcess && !reaped_) {
        Kill();
        Wait();
    }
    if (handles_->process.hProcess) CloseHandle(handles_->process.hProcess);
    if (handles_->process.hThread) CloseHandle(handles_->process.hThread);
    delete handles_;
}

bool ChildProcess::Interrupt() {
    return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, handles_->process.dwProcessId) != 0;
}

bool ChildProcess::Terminate() {
    return false;
}

void ChildProcess::Kill() {
    TerminateProcess(handles_->process.hProcess, static_cast<UINT>(KilledStatus()));
}

int ChildProcess::KilledStatus() {
    return 137;
}

ChildProcess::Result ChildProcess::Wait(std::chrono::seconds limit) {
    if (handles_->process.hProcess == nullptr) return {};
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
    if (WaitForSingleObject(handles_->process.hProcess, static_cast<DWORD>(waited)) !=
        WAIT_OBJECT_0) {
        Kill();
        WaitForSingleObject(handles_->process.hProcess, INFINITE);
    }
    reaped_ = true;
    DWORD code = 0;
    GetExitCodeProcess(handles_->process.hProcess, &code);
    return {static_cast<int>(code), ReadFile(out_), ReadFile(err_), Clock::now() - start_};
}

#else

struct ChildProcess::Handles {
    pid_t pid = -1;
};

std::pair<int, std::string> RunShell(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {-1, ""};
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

fs::path ThisProgram() {
    return fs::read_symlink("/proc/self/exe");
}

ChildProcess::ChildProcess(const fs::path& program, const std::vector<std::string>& arguments,
                           const fs::path& dir, const Options& options)
    : handles_(new Handles),
      out_(dir / "stdout.txt"),
      err_(dir / "stderr.txt"),
      start_(Clock::now()) {
    const fs::path in = dir / "stdin.txt";
    std::ofstream(in, std::ios::binary) << options.stdinText;
    std::ofstream{out_}, std::ofstream{err_};  // emptied before the program starts
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    handles_->pid = ::fork();
    if (handles_->pid == 0) {
        const int streams[] = {::open(in.c_str(), O_RDONLY),
                               ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                               ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
        for (int fd = 0; fd < 3; ++fd) ::dup2(streams[fd], fd);
        for (const auto& [name, value] : options.environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        if (options.fileSizeLimit >= 0) {
            const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                               static_cast<rlim_t>(options.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (handles_->pid < 0) ADD_FAILURE() << "cannot start " << program;
}

ChildProcess::~ChildProcess() {
    if (handles_->pid > 0 && !reaped_) {
        Kill();
        Wait();
    }
    delete handles_;
}

bool ChildProcess::Interrupt() {
    return ::kill(handles_->pid, SIGINT) == 0;
}

bool ChildProcess::Terminate() {
    return ::kill(handles_->pid, SIGTERM) == 0;
}

void ChildProcess::Kill() {
    ::kill(handles_->pid, SIGKILL);
}

int ChildProcess::KilledStatus() {
    return 128 + SIGKILL;
}

ChildProcess::Result ChildProcess::Wait(std::chrono::seconds limit) {
    if (handles_->pid <= 0) return {};
    int status = 0;
    for (const auto end = Clock::now() + limit; ::waitpid(handles_->pid, &status, WNOHANG) == 0;) {
        if (Clock::now() >= end) Kill();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reaped_ = true;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(out_),
            ReadFile(err_), Clock::now() - start_};
}

#endif

bool ChildProcess::ReadUntil(const std::function<bool(const std::string&)>& enough,
                             std::chrono::seconds limit) {
    for (const auto end = Clock::now() + limit; !enough(ReadFile(out_));) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool InChildProcesses(int count, const fs::path& folder, const std::function<bool(int)>& body) {
    if (const char* child = std::getenv(kChildVariable)) {
        const bool ok = body(std::atoi(child));
        std::fflush(nullptr);
        std::_Exit(ok ? 0 : 1);
    }
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::vector<std::unique_ptr<ScratchFolder>> streams;
    for (int c = 0; c < count; ++c) {
        ChildProcess::Options options;
        options.environment = {{kChildVariable, std::to_string(c)},
                               {kScratchVariable, folder.string()}};
        streams.push_back(std::make_unique<ScratchFolder>("tollwick-child-" + std::to_string(c)));
        children.push_back(std::make_unique<ChildProcess>(
            ThisProgram(), std::vector<std::string>{"--gtest_filter=" + TestName()},
            streams.back()->path(), options));
    }
    bool ok = true;
    for (auto& child : children) {
        const ChildProcess::Result result = child->Wait(std::chrono::seconds(120));
        if (result.status != 0) {
            ADD_FAILURE() << "a child process failed (" << result.status << "):\n" << result.out;
            ok = false;
        }
    }
    return ok;
}

}  // namespace tollwick::testing
