#include "cli/issue_data.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <random>

namespace tollwick {
namespace {

// A name no other run picks, in the temporary folder.
std::filesystem::path SpoolPath() {
    std::random_device random;
    std::string name = "tollwick-issue-";
    for (int i = 0; i < 4; ++i) name += std::to_string(random() % 10000);
    return std::filesystem::temp_directory_path() / name;
}

}  // namespace

std::unique_ptr<DataFile> DataFile::Open(const std::string& path, std::string& error) {
    auto file = std::make_unique<DataFile>();
    file->name_ = path == "-" ? "standard input" : path;
    std::filesystem::path from = path;
    if (path == "-") {
        // The records may hold account numbers: the copy is the owner's alone from its start.
        std::error_code code;
        file->spool_ = SpoolPath();
        std::ofstream spool(file->spool_, std::ios::binary | std::ios::trunc);
        std::filesystem::permissions(
            file->spool_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            code);
        if (!spool || code) {
            error = "cannot keep standard input in " + file->spool_.string();
            return nullptr;
        }
        spool << std::cin.rdbuf();
        spool.flush();
        if (!spool) {
            error = "cannot keep standard input in " + file->spool_.string();
            return nullptr;
        }
        from = file->spool_;
    } else {
        std::error_code code;
        if (std::filesystem::is_directory(from, code)) {
            error = path + ": it is a folder";
            return nullptr;
        }
    }
    file->in_.open(from, std::ios::binary);
    if (!file->in_) {
        error = file->name_ + ": " + std::strerror(errno);
        return nullptr;
    }
    const auto digest = StreamDigest(file->in_);
    if (!digest) {
        error = "cannot read " + file->name_;
        return nullptr;
    }
    file->digest_ = *digest;
    return file;
}

DataFile::~DataFile() {
    in_.close();
    std::error_code ignored;
    if (!spool_.empty()) std::filesystem::remove(spool_, ignored);
}

std::istream& DataFile::Rewound() {
    in_.clear();
    in_.seekg(0);
    return in_;
}

RecordCheck CheckRecords(
    RecordSource& source, IssueJournal* journal, bool verify, int retries,
    const std::function<void(long long row, const RowPlan&, const CardTexts*)>& visit,
    const std::function<void(long long row, const std::string&)>& problem) {
    RecordCheck check;
    std::vector<Attempt> history;
    for (;;) {
        RecordSource::Item item = source.Next();
        using Kind = RecordSource::Item::Kind;
        if (item.kind == Kind::kEnd) break;
        if (item.kind == Kind::kBroken) {
            check.broken = item.problem;
            break;
        }
        if (item.kind == Kind::kProblem) {
            ++check.problems;
            problem(item.row, item.problem);
            continue;
        }
        history.clear();
        if (journal && !journal->History(item.row, history)) {
            check.broken = journal->Error();
            break;
        }
        const RowPlan plan = PlanRow(history, verify, retries);
        switch (plan.action) {
            case RowAction::kWrite:
                ++check.toWrite;
                break;
            case RowAction::kDone:
                ++check.done;
                break;
            case RowAction::kDecide:
                ++check.toDecide;
                check.decideTexts[item.row] = item.texts;
                break;
            case RowAction::kGaveUp:
                ++check.gaveUp;
                break;
        }
        visit(item.row, plan, plan.action == RowAction::kWrite ? &item.texts : nullptr);
    }
    return check;
}

}  // namespace tollwick
