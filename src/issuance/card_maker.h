// From a record of the data file to the three track texts of its card, checked against the
// tracks' formats before any card is touched; and the records of a run, one at a time.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "carddata/data_type.h"
#include "issuance/data_records.h"
#include "issuance/track_template.h"

namespace tollwick {

// The rows a run issues: from `first` to `last`, both included.
struct RowRange {
    long long first = 1;
    long long last = -1;  // -1: to the end of the file
    bool Contains(long long row) const { return row >= first && (last < 0 || row <= last); }
    bool Past(long long row) const { return last >= 0 && row > last; }
};
// "A-B", "A-" (to the end) or "A"; rows count from 1. Nothing, with the reason in `error`.
std::optional<RowRange> ParseRowRange(const std::string& text, std::string& error);

// The three formats as text, for the journal: "7,0,%,?;5,0,;,?;5,0,;,?".
std::string TrackSetText(const TrackSet& set);

class CardMaker {
  public:
    // Templates per track (empty: the track is not written), parsed against the data file's
    // columns. Nothing, with "--track2: ..." in `error`, when a template is wrong or no track
    // has one.
    static std::optional<CardMaker> Make(const std::array<std::string, 3>& templates,
                                         const std::vector<std::string>& columns, DataType type,
                                         const DataTypeLayout& layout, std::string& error);

    // The card of one record, each track checked against its alphabet and capacity. Nothing,
    // with "track 2: ..." in `error`, when it cannot be written.
    std::optional<TrackTexts> Texts(const DataRecord& record, std::string& error) const;

    DataType Type() const { return type_; }
    const TrackSet& Formats() const { return layout_.settings; }

  private:
    std::array<std::optional<TrackTemplate>, 3> templates_;
    DataType type_ = DataType::kIso;
    DataTypeLayout layout_;
};

// The records of a run in order, each with its card or the reason it has none. Several workers
// may take from one source at once.
class RecordSource {
  public:
    RecordSource(RecordReader& reader, const CardMaker& maker, RowRange rows)
        : reader_(reader), maker_(maker), rows_(rows) {}

    struct Item {
        enum class Kind {
            kCard,     // texts hold the record's card
            kProblem,  // the record cannot be written: problem says why ("row 5 (line 6): ...")
            kEnd,      // no more records in the range
            kBroken,   // the file cannot be read on: problem says why
        };
        Kind kind = Kind::kEnd;
        long long row = 0;
        TrackTexts texts;
        std::string problem;
    };
    // The next record of the range.
    Item Next();

  private:
    std::mutex mutex_;
    RecordReader& reader_;
    const CardMaker& maker_;
    RowRange rows_;
    bool ended_ = false;
};

}  // namespace tollwick
