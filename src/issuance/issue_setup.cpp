#include "issuance/issue_setup.h"

#include <cerrno>
#include <cstring>

#include "files/utf8_path.h"
#include "issuance/sqlite_journal.h"

namespace tollwick {
namespace {

// Which parameter differs, in words, for a journal of another run.
std::string OtherRun(const RunParameters& kept, const RunParameters& now) {
    if (kept.dataDigest != now.dataDigest) return "another data file (its SHA-256 differs)";
    for (std::size_t t = 0; t < 3; ++t) {
        if (kept.templates[t] != now.templates[t]) {
            return "another track " + std::to_string(t + 1) + " template (\"" + kept.templates[t] +
                   "\")";
        }
    }
    if (kept.dataType != now.dataType) return "another data type (" + kept.dataType + ")";
    return "other track formats (" + kept.formats + ")";
}

}  // namespace

std::unique_ptr<IssueSetup> IssueSetup::Prepare(const IssueRequest& request, const Visit& visit,
                                                const Problem& problem, Failure& failure,
                                                std::string& error) {
    auto setup = std::unique_ptr<IssueSetup>(new IssueSetup);
    IssueSetup& s = *setup;
    s.request_ = request;
    const auto fail = [&](Failure kind, std::string why) {
        failure = kind;
        error = std::move(why);
        return nullptr;
    };
    std::error_code code;
    if (std::filesystem::is_directory(request.data, code)) {
        return fail(Failure::kDataFile, request.dataName + ": it is a folder");
    }
    s.data_.open(request.data, std::ios::binary);
    if (!s.data_) return fail(Failure::kDataFile, request.dataName + ": " + std::strerror(errno));
    const auto digest = StreamDigest(s.data_);
    if (!digest) return fail(Failure::kDataFile, "cannot read " + request.dataName);
    s.reader_ = s.Records(error);
    if (!s.reader_) return fail(Failure::kRecords, request.dataName + ": " + error);
    s.maker_ = CardMaker::Make(request.templates, s.reader_->Columns(), request.type,
                               request.layout, error);
    if (!s.maker_) return fail(Failure::kRecords, error);
    s.run_ = RunParameters{*digest, request.templates, std::string(DataTypeName(request.type)),
                           TrackSetText(request.layout.settings), ""};

    // The journal: a dry run only reads one that exists; a run takes it for itself. A new one is
    // made only once every record has passed its check.
    const auto openJournal = [&](SqliteJournal::Mode mode) {
        s.journal_ = SqliteJournal::Open(request.journal, mode, error);
        if (!s.journal_) {
            failure = Failure::kJournal;
            return false;
        }
        const auto kept = s.journal_->Parameters();
        if (!s.journal_->Error().empty()) {
            fail(Failure::kJournal, s.journal_->Error());
            return false;
        }
        if (kept && !kept->SameRunAs(s.run_)) {
            fail(Failure::kOtherRun, "the journal " + PathToUtf8(request.journal) +
                                         " belongs to another run: " + OtherRun(*kept, s.run_));
            return false;
        }
        s.run_.digestKey = kept ? kept->digestKey : NewDigestKey();
        return true;
    };
    if (std::filesystem::exists(request.journal, code) &&
        !openJournal(request.dryRun ? SqliteJournal::Mode::kRead : SqliteJournal::Mode::kIssue)) {
        return nullptr;
    }

    // Every record is checked before the first card.
    RecordSource source(*s.reader_, *s.maker_, request.rows);
    std::vector<Attempt> history;
    for (;;) {
        RecordSource::Item item = source.Next();
        using Kind = RecordSource::Item::Kind;
        if (item.kind == Kind::kEnd) break;
        if (item.kind == Kind::kBroken) {
            return fail(Failure::kDataFile, request.dataName + ": " + item.problem);
        }
        if (item.kind == Kind::kProblem) {
            ++s.check_.problems;
            problem(item.row, item.problem);
            continue;
        }
        history.clear();
        if (s.journal_ && !s.journal_->History(item.row, history)) {
            return fail(Failure::kJournal, s.journal_->Error());
        }
        const RowPlan plan = PlanRow(history, request.verify, request.retries);
        switch (plan.action) {
            case RowAction::kWrite:
                ++s.check_.toWrite;
                break;
            case RowAction::kDone:
                ++s.check_.done;
                break;
            case RowAction::kDecide:
                ++s.check_.toDecide;
                s.check_.decideTexts[item.row] = item.texts;
                break;
            case RowAction::kGaveUp:
                ++s.check_.gaveUp;
                break;
        }
        visit(item.row, plan, plan.action == RowAction::kWrite ? &item.texts : nullptr);
    }
    if (s.check_.problems) {
        const std::string count = std::to_string(s.check_.problems);
        return fail(Failure::kRecords, count + (s.check_.problems == 1 ? " record" : " records") +
                                           " cannot be written as the templates fill them" +
                                           (request.dryRun ? "" : "; no card was touched"));
    }
    if (!request.dryRun && !s.journal_ && !openJournal(SqliteJournal::Mode::kIssue)) {
        return nullptr;
    }
    return setup;
}

bool IssueSetup::StartJournal(std::string& error) {
    if (journal_->Parameters()) return true;
    if (journal_->Error().empty() && journal_->Start(run_)) return true;
    error = journal_->Error();
    return false;
}

std::unique_ptr<RecordReader> IssueSetup::Records(std::string& error) {
    data_.clear();
    data_.seekg(0);
    return OpenRecordReader(data_, error);
}

std::optional<std::vector<UncertainCard>> IssueSetup::UncertainCards(std::string& error) {
    std::vector<UncertainCard> cards;
    std::vector<Attempt> history;
    for (const auto& [row, texts] : check_.decideTexts) {
        if (!journal_->History(row, history)) {
            error = journal_->Error();
            return std::nullopt;
        }
        const RowPlan plan = PlanRow(history, request_.verify, request_.retries);
        if (plan.action == RowAction::kDecide) cards.push_back({*plan.card, texts});
    }
    std::sort(cards.begin(), cards.end(), [](const UncertainCard& a, const UncertainCard& b) {
        return a.attempt.id < b.attempt.id;
    });
    return cards;
}

}  // namespace tollwick
