// issue's data file: opened (standard input spooled to a private temporary file, so that it can
// be read twice and digested), and the check of every record before the first card.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "issuance/card_maker.h"
#include "issuance/issue_journal.h"
#include "issuance/resume_plan.h"

namespace tollwick {

class DataFile {
  public:
    // "-" reads standard input. Nothing, with the reason in `error`.
    static std::unique_ptr<DataFile> Open(const std::string& path, std::string& error);
    ~DataFile();

    // The stream from its start again.
    std::istream& Rewound();
    const std::string& Digest() const { return digest_; }
    const std::string& Name() const { return name_; }

  private:
    std::string name_;
    std::filesystem::path spool_;  // the copy of standard input, removed at the end
    std::ifstream in_;
    std::string digest_;
};

// What the check of every record found.
struct RecordCheck {
    long long toWrite = 0;
    long long done = 0;
    long long toDecide = 0;
    long long gaveUp = 0;
    long long problems = 0;
    std::map<long long, CardTexts> decideTexts;  // the records whose card is to be decided
    std::string broken;                          // the file could not be read to its end
};

// Reads every record of the range, makes its card and plans it with the journal's history (no
// journal: every record is to be written). `visit` sees each record with its plan (texts for a
// record to write), `problem` each record that cannot be written.
RecordCheck CheckRecords(
    RecordSource& source, IssueJournal* journal, bool verify, int retries,
    const std::function<void(long long row, const RowPlan&, const CardTexts*)>& visit,
    const std::function<void(long long row, const std::string&)>& problem);

}  // namespace tollwick
