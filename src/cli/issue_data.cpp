#include "cli/issue_data.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/interrupt.h"
#include "files/card_data_file.h"
#include "files/user_file.h"
#include "files/utf8_path.h"
#include "issuance/data_records.h"

namespace tollwick {
namespace {

// More than any run of cards could use: a card takes a second or more.
constexpr long long kMostSpooledBytes = 1LL << 30;

}  // namespace

std::unique_ptr<SpooledInput> SpooledInput::FromStandardInput(std::string& error) {
    auto spool = std::make_unique<SpooledInput>();
    std::error_code code;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(code);
    if (code) {
        error = "cannot keep standard input: no folder for temporary files";
        return nullptr;
    }
    // The records may hold account numbers: the copy is made private (0600, O_EXCL) in the
    // shared temporary folder, where nobody can have put a file or a link in its place.
    std::FILE* out = CreatePrivateFile(folder, "tollwick-issue-", spool->path_, &error);
    if (out == nullptr) {
        error = "cannot keep standard input: " + error;
        return nullptr;
    }
    // The wait for standard input ends on an interrupt; a line longer than any record ends the
    // copy at its first byte too many, and so does more than any run could use.
    const auto in = StoppableInput::Open("-", InterruptStop());
    long long total = 0;
    std::size_t lineLength = 0;
    long long line = 1;
    char buffer[4096];
    bool failed = false;
    while (!failed && error.empty()) {
        const std::streamsize got = in->sgetn(buffer, sizeof buffer);
        if (got <= 0) break;
        for (std::streamsize i = 0; i < got && error.empty(); ++i) {
            if (buffer[i] == '\n') {
                lineLength = 0;
                ++line;
            } else if (++lineLength > kMaxRecordBytes) {
                error = "standard input: line " + std::to_string(line) + " is longer than " +
                        std::to_string(kMaxRecordBytes) + " bytes";
            }
        }
        total += got;
        if (total > kMostSpooledBytes) {
            error = "standard input holds more than " + std::to_string(kMostSpooledBytes >> 20) +
                    " MiB of records";
        }
        failed = std::fwrite(buffer, 1, static_cast<std::size_t>(got), out) !=
                 static_cast<std::size_t>(got);
    }
    failed = std::fclose(out) != 0 || failed;
    if (in->Stopped()) {
        error = "interrupted";
    } else if (error.empty() && (failed || in->Failed())) {
        error = "cannot keep standard input in " + PathToUtf8(spool->path_) + ": " +
                std::strerror(errno);
    }
    if (!error.empty()) return nullptr;  // the copy is removed with the spool
    return spool;
}

SpooledInput::~SpooledInput() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove(path_, ignored);
}

}  // namespace tollwick
