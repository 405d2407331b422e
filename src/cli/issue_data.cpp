#include "cli/issue_data.h"

#include <fstream>
#include <iostream>
#include <random>

namespace tollwick {

std::unique_ptr<SpooledInput> SpooledInput::FromStandardInput(std::string& error) {
    auto spool = std::make_unique<SpooledInput>();
    std::random_device random;
    std::string name = "tollwick-issue-";
    for (int i = 0; i < 4; ++i) name += std::to_string(random() % 10000);
    spool->path_ = std::filesystem::temp_directory_path() / name;
    // The records may hold account numbers: the copy is the owner's alone from its start.
    std::ofstream out(spool->path_, std::ios::binary | std::ios::trunc);
    std::error_code code;
    std::filesystem::permissions(
        spool->path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        code);
    if (out && !code) out << std::cin.rdbuf();
    out.flush();
    if (!out || code) {
        error = "cannot keep standard input in " + spool->path_.string();
        return nullptr;
    }
    return spool;
}

SpooledInput::~SpooledInput() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove(path_, ignored);
}

}  // namespace tollwick
