#include "issuance/data_records.h"

#include <sodium.h>

#include <array>
#include <nlohmann/json.hpp>
#include <set>

namespace tollwick {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{64} * 1024;

// Bytes of a stream, a block at a time, with the line count kept.
class ByteStream {
  public:
    explicit ByteStream(std::istream& in) : in_(&in), block_(kBlockBytes) {}

    // The next byte, or -1 at the end.
    int Get() {
        if (pos_ == end_ && !Fill()) return -1;
        return static_cast<unsigned char>(block_[pos_++]);
    }
    int Peek() {
        if (pos_ == end_ && !Fill()) return -1;
        return static_cast<unsigned char>(block_[pos_]);
    }
    // Skips a UTF-8 byte order mark at the very start.
    void SkipByteOrderMark() {
        static constexpr std::array<int, 3> kMark{0xEF, 0xBB, 0xBF};
        if (Peek() != kMark[0]) return;
        if (end_ - pos_ < 3 && !FillMore()) return;
        for (std::size_t i = 0; i < 3; ++i) {
            if (pos_ + i >= end_ || static_cast<unsigned char>(block_[pos_ + i]) != kMark[i]) {
                return;
            }
        }
        pos_ += 3;
    }

  private:
    bool Fill() {
        if (!*in_) return false;
        in_->read(block_.data(), static_cast<std::streamsize>(block_.size()));
        pos_ = 0;
        end_ = static_cast<std::size_t>(in_->gcount());
        return end_ > 0;
    }
    // Keeps the unread bytes and reads more after them (for a look ahead across blocks).
    bool FillMore() {
        std::copy(block_.begin() + static_cast<std::ptrdiff_t>(pos_),
                  block_.begin() + static_cast<std::ptrdiff_t>(end_), block_.begin());
        end_ -= pos_;
        pos_ = 0;
        if (!*in_) return false;
        in_->read(block_.data() + end_, static_cast<std::streamsize>(block_.size() - end_));
        end_ += static_cast<std::size_t>(in_->gcount());
        return true;
    }

    std::istream* in_;
    std::vector<char> block_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

std::string Row(long long row) {
    return "row " + std::to_string(row);
}
std::string Line(long long line) {
    return "line " + std::to_string(line);
}

class CsvReader final : public RecordReader {
  public:
    explicit CsvReader(ByteStream bytes) : bytes_(std::move(bytes)) {}

    // Reads the header; false with the reason when there is none.
    bool ReadHeader(std::string& error) {
        std::vector<std::string> fields;
        long long line = 0;
        const Parse parse = ReadFields(fields, line, error);
        if (parse == Parse::kEnd) {
            error = "the data file is empty: it needs a header row naming the columns";
            return false;
        }
        if (parse != Parse::kOk) {
            error = "the header row: " + error;
            return false;
        }
        columns_ = std::move(fields);
        return true;
    }

    const std::vector<std::string>& Columns() const override { return columns_; }

    RecordStatus Next(DataRecord& record, std::string& error) override {
        if (broken_) return RecordStatus::kEnd;
        std::vector<std::string> fields;
        long long line = 0;
        const Parse parse = ReadFields(fields, line, error);
        if (parse == Parse::kEnd) return RecordStatus::kEnd;
        record.row = ++row_;
        record.line = line;
        if (parse == Parse::kBroken) {
            broken_ = true;
            error = Row(row_) + " (" + Line(line) + "): " + error;
            return RecordStatus::kBadFile;
        }
        if (parse == Parse::kBadRecord) {
            error = Row(row_) + " (" + Line(line) + "): " + error;
            return RecordStatus::kBadRecord;
        }
        if (fields.size() != columns_.size()) {
            error = Row(row_) + " (" + Line(line) + "): " + std::to_string(fields.size()) +
                    (fields.size() == 1 ? " field" : " fields") + ", the header has " +
                    std::to_string(columns_.size());
            return RecordStatus::kBadRecord;
        }
        record.values.assign(std::make_move_iterator(fields.begin()),
                             std::make_move_iterator(fields.end()));
        return RecordStatus::kRecord;
    }

  private:
    enum class Parse { kOk, kEnd, kBadRecord, kBroken };

    // Ends the line after a fault in a record, so that reading goes on with the next one.
    void SkipRestOfLine() {
        for (int c = bytes_.Get(); c != -1; c = bytes_.Get()) {
            if (c == '\n') {
                ++line_;
                return;
            }
        }
    }

    // Reads one record's fields; blank lines before it are skipped. `line` gets the line it
    // begins on.
    Parse ReadFields(std::vector<std::string>& fields, long long& line, std::string& error) {
        int c = bytes_.Get();
        while (c == '\n' || c == '\r') {
            if (c == '\r' && bytes_.Peek() == '\n') bytes_.Get();
            ++line_;
            c = bytes_.Get();
        }
        if (c == -1) return Parse::kEnd;
        line = line_;
        std::size_t size = 0;
        std::string field;
        for (;;) {
            if (c == '"') {
                // A quoted field, up to the quote that is not doubled.
                for (;;) {
                    c = bytes_.Get();
                    if (c == -1) {
                        error = "a quoted field is not closed before the end of the file";
                        return Parse::kBroken;
                    }
                    if (c == '"') {
                        if (bytes_.Peek() != '"') break;
                        bytes_.Get();
                    } else if (c == '\n') {
                        ++line_;
                    }
                    field.push_back(static_cast<char>(c));
                    if (++size > kMaxRecordBytes) {
                        error = "longer than " + std::to_string(kMaxRecordBytes) + " bytes";
                        return Parse::kBroken;
                    }
                }
                c = bytes_.Get();
                if (c != ',' && c != '\n' && c != '\r' && c != -1) {
                    error = "a character after the closing quote of field " +
                            std::to_string(fields.size() + 1);
                    SkipRestOfLine();
                    return Parse::kBadRecord;
                }
            } else {
                while (c != ',' && c != '\n' && c != '\r' && c != -1) {
                    field.push_back(static_cast<char>(c));
                    if (++size > kMaxRecordBytes) {
                        error = "longer than " + std::to_string(kMaxRecordBytes) + " bytes";
                        return Parse::kBroken;
                    }
                    c = bytes_.Get();
                }
            }
            fields.push_back(std::move(field));
            field.clear();
            if (c == ',') {
                // Commas count too: a line of nothing but commas is no record either.
                if (++size > kMaxRecordBytes) {
                    error = "longer than " + std::to_string(kMaxRecordBytes) + " bytes";
                    return Parse::kBroken;
                }
                c = bytes_.Get();
                continue;
            }
            if (c == '\r' && bytes_.Peek() == '\n') bytes_.Get();
            if (c != -1) ++line_;
            return Parse::kOk;
        }
    }

    ByteStream bytes_;
    std::vector<std::string> columns_;
    long long line_ = 1;
    long long row_ = 0;
    bool broken_ = false;
};

class JsonLinesReader final : public RecordReader {
  public:
    explicit JsonLinesReader(ByteStream bytes) : bytes_(std::move(bytes)) {}

    // Reads the first object for its keys; it is then given as the first record.
    bool ReadColumns(std::string& error) {
        const RecordStatus status = Next(first_, error);
        if (status == RecordStatus::kEnd) {
            error = "the data file is empty";
            return false;
        }
        if (status != RecordStatus::kRecord) return false;
        haveFirst_ = true;
        return true;
    }

    const std::vector<std::string>& Columns() const override { return columns_; }

    RecordStatus Next(DataRecord& record, std::string& error) override {
        if (haveFirst_) {
            haveFirst_ = false;
            record = std::move(first_);
            return RecordStatus::kRecord;
        }
        std::string text;
        long long line = 0;
        for (;;) {
            const RecordStatus status = ReadLine(text, line, error);
            if (status != RecordStatus::kRecord) return status;
            if (text.find_first_not_of(" \t\r") != std::string::npos) break;
        }
        record.row = ++row_;
        record.line = line;
        const std::string where = Row(row_) + " (" + Line(line) + "): ";
        nlohmann::ordered_json object = nlohmann::ordered_json::parse(text, nullptr, false);
        if (object.is_discarded() || !object.is_object()) {
            error = where + "not a JSON object";
            return RecordStatus::kBadRecord;
        }
        if (columns_.empty()) {
            for (const auto& item : object.items()) columns_.push_back(item.key());
            if (columns_.empty()) {
                error = where + "the first object has no keys to take as columns";
                return RecordStatus::kBadFile;
            }
        }
        record.values.assign(columns_.size(), std::nullopt);
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const auto found = object.find(columns_[i]);
            if (found == object.end()) continue;
            if (found->is_string()) {
                record.values[i] = found->get<std::string>();
            } else if (found->is_number() || found->is_boolean()) {
                record.values[i] = found->dump();
            }
        }
        return RecordStatus::kRecord;
    }

  private:
    RecordStatus ReadLine(std::string& text, long long& line, std::string& error) {
        text.clear();
        int c = bytes_.Get();
        if (c == -1) return RecordStatus::kEnd;
        line = ++line_;
        while (c != '\n' && c != -1) {
            text.push_back(static_cast<char>(c));
            if (text.size() > kMaxRecordBytes) {
                error = Line(line) + ": longer than " + std::to_string(kMaxRecordBytes) + " bytes";
                return RecordStatus::kBadFile;
            }
            c = bytes_.Get();
        }
        return RecordStatus::kRecord;
    }

    ByteStream bytes_;
    std::vector<std::string> columns_;
    DataRecord first_;
    bool haveFirst_ = false;
    long long line_ = 0;
    long long row_ = 0;
};

bool CheckColumnNames(const std::vector<std::string>& columns, std::string& error) {
    std::set<std::string> seen;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].empty()) {
            error = "column " + std::to_string(i + 1) + " of the header has no name";
            return false;
        }
        if (!seen.insert(columns[i]).second) {
            error = "the header names the column \"" + columns[i] + "\" twice";
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<RecordReader> OpenRecordReader(std::istream& in, std::string& error) {
    ByteStream bytes(in);
    bytes.SkipByteOrderMark();
    if (bytes.Peek() == '{') {
        auto reader = std::make_unique<JsonLinesReader>(std::move(bytes));
        if (!reader->ReadColumns(error)) return nullptr;
        return reader;
    }
    auto reader = std::make_unique<CsvReader>(std::move(bytes));
    if (!reader->ReadHeader(error)) return nullptr;
    if (!CheckColumnNames(reader->Columns(), error)) return nullptr;
    return reader;
}

std::optional<std::string> StreamDigest(std::istream& in) {
    if (sodium_init() < 0) return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<char> block(kBlockBytes);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = in.gcount();
        if (got > 0) {
            crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(block.data()),
                                      static_cast<unsigned long long>(got));
        }
    }
    if (in.bad()) return std::nullopt;
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256_final(&state, digest.data());
    std::array<char, crypto_hash_sha256_BYTES * 2 + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return std::string(hex.data());
}

}  // namespace tollwick
