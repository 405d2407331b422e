// The records of an issuing data file, read one at a time so that a file of any length is read
// in bounded memory: CSV (RFC 4180, a header row naming the columns, UTF-8) or JSON lines (one
// object per line; its keys are the columns).
#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tollwick {

// One record of the data file.
struct DataRecord {
    long long row = 0;   // the record's number, from 1; the header and blank lines are not counted
    long long line = 0;  // the line of the file it begins on, from 1 (for messages)
    // By column, in the order of the reader's Columns(); nothing where a JSON line has no text or
    // number for that key. CSV records always have every value.
    std::vector<std::optional<std::string>> values;
};

enum class RecordStatus {
    kRecord,     // a record was read
    kEnd,        // no more records
    kBadRecord,  // this record cannot be used (the error says why); reading goes on after it
    kBadFile,    // the file cannot be read on from here (the error says why)
};

// A record (CSV: from its opening to its closing line end; JSON: a line) may take at most this
// many bytes. Tracks hold at most 140 characters, so a longer record is a wrong file.
inline constexpr std::size_t kMaxRecordBytes = std::size_t{64} * 1024;

class RecordReader {
  public:
    virtual ~RecordReader() = default;
    // The column names: the CSV header, or the keys of the first JSON line in their order.
    virtual const std::vector<std::string>& Columns() const = 0;
    // Reads the next record into `record`. kBadRecord and kBadFile set `error` to a sentence that
    // names the row or line; kBadRecord also sets record.row and record.line.
    virtual RecordStatus Next(DataRecord& record, std::string& error) = 0;
};

// Reads the stream's columns and gives a reader for its records. JSON lines when the first
// character (after a UTF-8 byte order mark and blanks) is '{', else CSV: fields separated by
// commas, records by CR LF or LF, a field in double quotes may hold commas, line ends and "" for
// a quote; blank lines are skipped. Nothing, with the reason in `error`, when the stream has no
// header (an empty file), the header is too long, or a column name is empty or repeated.
std::unique_ptr<RecordReader> OpenRecordReader(std::istream& in, std::string& error);

// The SHA-256 of everything the stream holds from where it is, in lower-case hex; read in
// blocks. Nothing when reading fails.
std::optional<std::string> StreamDigest(std::istream& in);

}  // namespace tollwick
