#include "cli/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "carddata/account_mask.h"
#include "cli/exit_codes.h"
#include "cli/json_output.h"

namespace tollwick {

Output::Output(bool json, bool quiet, ProgressStyle progress)
    : json_(json), quiet_(quiet), progress_(progress) {}

std::string Output::Masked(std::string_view text) const {
    return masking_ ? MaskAccountNumbers(text) : std::string(text);
}

void Output::ClearProgress() {
    if (!progressShown_) return;
    std::cerr << "\r\033[K" << std::flush;
    progressShown_ = false;
}

bool Output::WriteStandardOutput(std::string_view bytes) {
    if (stdoutError_ != 0) return false;
    errno = 0;
    std::cout << bytes << std::flush;
    if (std::cout) return true;
    stdoutError_ = errno != 0 ? errno : EIO;
    return false;
}

void Output::WriteResults(std::string_view text) {
    if (textToStderr_) {
        std::cerr << text << std::flush;
    } else {
        WriteStandardOutput(text);
    }
}

int Output::Fail(int exitStatus, std::string_view message) {
    ClearProgress();
    std::cerr << "tollwick-cli: " << Masked(message) << std::endl;
    if (json_) WriteStandardOutput(Masked(JsonLine(ErrorJson(exitStatus, message))));
    return exitStatus;
}

void Output::Warn(std::string_view message) {
    ClearProgress();
    std::cerr << "tollwick-cli: " << Masked(message) << std::endl;
}

void Output::Prompt(std::string_view line) {
    ClearProgress();
    std::cerr << Masked(line) << std::endl;
}

void Output::Text(std::string_view line) {
    if (json_) return;
    ClearProgress();
    WriteResults(Masked(line) + '\n');
}

void Output::Object(const nlohmann::ordered_json& object) {
    if (!json_) return;
    ClearProgress();
    WriteStandardOutput(Masked(JsonLine(object)));
}

void Output::CardText(std::string_view lines) {
    if (quiet_ || json_) return;
    ClearProgress();
    WriteResults(Masked(lines));
}

void Output::CardObject(const nlohmann::ordered_json& object) {
    if (!quiet_) Object(object);
}

void Output::Progress(int card, std::optional<int> of) {
    if (progress_ == ProgressStyle::kNone) return;
    if (progress_ == ProgressStyle::kRewrite) std::cerr << "\r\033[K";
    std::cerr << "card " << card;
    if (of) std::cerr << " of " << *of;
    if (progress_ == ProgressStyle::kLines) {
        std::cerr << std::endl;
        return;
    }
    std::cerr << std::flush;
    progressShown_ = true;
}

void Output::Status(std::string_view line) {
    if (progress_ == ProgressStyle::kNone) return;
    if (progress_ == ProgressStyle::kLines) {
        std::cerr << line << std::endl;
        return;
    }
    std::cerr << "\r\033[K" << line << std::flush;
    progressShown_ = true;
}

void Output::SwipePrompt() {
    Status(kSwipePrompt);
}

int Output::Close(int status) {
    ClearProgress();
    if (stdoutError_ == 0) {
        errno = 0;
        std::cout.flush();
        if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
            stdoutError_ = errno != 0 ? errno : EIO;
        }
    }
    // A lost write that the file system reports only at the close; standard output stays open
    // for whoever called the tool in-process.
    if (stdoutError_ == 0) stdoutError_ = StandardOutputCloseError();
    if (stdoutError_ == 0 || (status != kExitDone && status != kExitCheckFailed)) return status;
    if (stdoutError_ == EPIPE) return kExitOutputClosed;
    std::cerr << "tollwick-cli: cannot write to standard output: " << std::strerror(stdoutError_)
              << std::endl;
    return kExitFileFailed;
}

}  // namespace tollwick
