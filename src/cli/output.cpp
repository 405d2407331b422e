#include "cli/output.h"

#include <cstdio>
#include <iostream>

#include "carddata/account_mask.h"
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

int Output::Fail(int exitStatus, std::string_view message) {
    ClearProgress();
    std::cerr << "tollwick-cli: " << Masked(message) << std::endl;
    if (json_) std::cout << Masked(JsonLine(ErrorJson(exitStatus, message))) << std::flush;
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
    std::ostream& out = textToStderr_ ? std::cerr : std::cout;
    out << Masked(line) << '\n' << std::flush;
}

void Output::Object(const nlohmann::ordered_json& object) {
    if (!json_) return;
    ClearProgress();
    std::cout << Masked(JsonLine(object)) << std::flush;
}

void Output::CardText(std::string_view lines) {
    if (quiet_ || json_) return;
    ClearProgress();
    std::ostream& out = textToStderr_ ? std::cerr : std::cout;
    out << Masked(lines) << std::flush;
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

}  // namespace tollwick
