// The records of an issuing data file (CSV or JSON lines), filled into templates and checked.
//
// Input: the bytes of a data file.
// Checked: the reader ends; rows count up by one from 1 and lines never go back; every record
// has one value per column; a record is never longer than the bound; every card made from it
// passes the check of its track (the alphabet, the capacity), and the same record gives the same
// card twice.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "carddata/text_filter.h"
#include "fuzz_input.h"
#include "issuance/card_maker.h"

namespace fuzz = tollwick::fuzz;
using namespace tollwick;

namespace {

void Check(bool holds, const char* what) {
    if (!holds) fuzz::Fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::string error;
    auto reader = OpenRecordReader(in, error);
    if (!reader) return 0;
    const std::vector<std::string>& columns = reader->Columns();
    Check(!columns.empty(), "a reader without columns");
    const DataTypeLayout iso =
        LayoutFor(DataType::kIso, Track2Density::k210, kIsoTrackSet, StoredUserKeys{});
    const std::string first = "{" + columns.front() + "}";
    const std::string last = "{luhn:" + columns.back() + "}";
    // A column name with a brace in it cannot be named by a template: no maker then.
    auto maker = CardMaker::Make({first + "^{row}", last, ""}, columns, DataType::kIso, iso, error);
    DataRecord record;
    long long row = 0;
    long long line = 0;
    // Every record takes at least one byte of the input.
    for (std::size_t n = 0; n <= size + 1; ++n) {
        const RecordStatus status = reader->Next(record, error);
        if (status == RecordStatus::kEnd || status == RecordStatus::kBadFile) return 0;
        Check(record.row == row + 1, "rows do not count up by one");
        Check(record.line > line, "a record begins on a line already passed");
        row = record.row;
        line = record.line;
        if (status != RecordStatus::kRecord) continue;
        Check(record.values.size() == columns.size(), "a record without a value per column");
        std::size_t bytes = 0;
        for (const auto& value : record.values) bytes += value ? value->size() : 0;
        Check(bytes <= kMaxRecordBytes, "a record beyond the bound");
        if (!maker) continue;
        const auto texts = maker->Texts(record, error);
        if (!texts) continue;
        for (std::size_t t = 0; t < 3; ++t) {
            Check(!FindTrackTextFault((*texts)[t], kIsoTrackSet[t], DataType::kIso, iso.limits[t]),
                  "a card that fails its track's check");
        }
        Check(maker->Texts(record, error) == texts, "the same record, another card");
    }
    Check(false, "the reader does not end");
    return 0;
}
