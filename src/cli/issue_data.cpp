#include "cli/issue_data.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "files/card_data_file.h"
#include "files/utf8_path.h"

namespace tollwick {

std::unique_ptr<SpooledInput> SpooledInput::FromStandardInput(std::string& error) {
    auto spool = std::make_unique<SpooledInput>();
    std::random_device random;
    // The records may hold account numbers: the copy is the owner's alone from its start (0600;
    // on Windows a DACL for the user alone). A name already taken is never written into.
    std::FILE* out = nullptr;
    for (int attempt = 0; attempt < 8 && !out; ++attempt) {
        std::string name = "tollwick-issue-";
        for (int i = 0; i < 4; ++i) name += std::to_string(random() % 10000);
        spool->path_ = std::filesystem::temp_directory_path() / PathFromUtf8(name);
        out = OpenCardDataFile(PathToUtf8(spool->path_));
        if (out && !IsEmptyFile(out)) {
            std::fclose(out);
            out = nullptr;
            errno = EEXIST;
        }
    }
    const std::string where = "cannot keep standard input in " + PathToUtf8(spool->path_);
    if (!out) {
        error = where + ": " + std::strerror(errno);
        spool->path_.clear();
        return nullptr;
    }
    char buffer[1 << 16];
    int problem = 0;
    errno = 0;
    for (std::size_t got; !problem && (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        if (std::fwrite(buffer, 1, got, out) != got) problem = errno ? errno : EIO;
    }
    if (!problem && std::ferror(stdin)) problem = errno ? errno : EIO;
    if (std::fclose(out) != 0 && !problem) problem = errno ? errno : EIO;
    if (problem) {
        error = where + ": " + std::strerror(problem);
        return nullptr;
    }
    return spool;
}

SpooledInput::~SpooledInput() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove(path_, ignored);
}

}  // namespace tollwick
