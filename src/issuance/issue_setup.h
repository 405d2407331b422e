// Everything an issuing run settles before the first card, for the command line and the desktop
// alike: the data file read and digested, the templates parsed, every record filled in and
// checked (and planned with the journal's history), the journal opened or, once every record
// has passed, created; and which cards are uncertain.
#pragma once

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "issuance/card_maker.h"
#include "issuance/issue_journal.h"
#include "issuance/resume_plan.h"

namespace tollwick {

struct IssueRequest {
    std::filesystem::path data;
    std::string dataName;  // how messages name the data file (its path, "standard input")
    std::array<std::string, 3> templates;
    std::filesystem::path journal;
    DataType type = DataType::kIso;
    DataTypeLayout layout;  // the formats and capacities in force
    RowRange rows;
    bool verify = false;
    int retries = 2;
    bool dryRun = false;  // only an existing journal is read; none is made
};

// What the check of every record found.
struct RecordCheck {
    long long toWrite = 0;
    long long done = 0;
    long long toDecide = 0;
    long long gaveUp = 0;
    long long problems = 0;                       // records that cannot be written
    std::map<long long, TrackTexts> decideTexts;  // the records whose card is to be decided
};

// A card to read before the run goes on, with what it should hold.
struct UncertainCard {
    Attempt attempt;
    TrackTexts texts;
};

class IssueSetup {
  public:
    enum class Failure {
        kNone,
        kDataFile,  // the data file cannot be read (to its end)
        kRecords,   // a template is wrong, or records cannot be written (each was reported)
        kJournal,   // the journal cannot be opened, read or made
        kOtherRun,  // the journal belongs to another data file, templates or data type
    };
    using Visit = std::function<void(long long row, const RowPlan&, const TrackTexts* texts)>;
    using Problem = std::function<void(long long row, const std::string& why)>;

    // `visit` sees every record of the range with its plan (texts for a record to write),
    // `problem` each record that cannot be written. Nothing, with `failure` and `error` set,
    // when the run cannot go on.
    static std::unique_ptr<IssueSetup> Prepare(const IssueRequest& request, const Visit& visit,
                                               const Problem& problem, Failure& failure,
                                               std::string& error);

    const IssueRequest& Request() const { return request_; }
    const CardMaker& Maker() const { return *maker_; }
    const RunParameters& Run() const { return run_; }
    IssueJournal* Journal() { return journal_.get(); }  // none for a dry run without one
    const RecordCheck& Check() const { return check_; }

    // Records the run's parameters in a new journal.
    bool StartJournal(std::string& error);
    // A reader of the records from the start, for the run itself.
    std::unique_ptr<RecordReader> Records(std::string& error);
    // The uncertain cards, oldest first (and, when cards are verified, those written and never
    // read back).
    std::optional<std::vector<UncertainCard>> UncertainCards(std::string& error);

  private:
    IssueRequest request_;
    std::ifstream data_;
    std::unique_ptr<RecordReader> reader_;
    std::optional<CardMaker> maker_;
    RunParameters run_;
    std::unique_ptr<IssueJournal> journal_;
    RecordCheck check_;
};

}  // namespace tollwick
