#include "files/card_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/card_data_file.h"
#include "files/local_time.h"

namespace tollwick {
namespace {

constexpr char kStartCharacters[3] = {'%', ';', '+'};

bool InTrackRange(char ch, int bpc) {
    const auto v = static_cast<unsigned char>(ch);
    if (bpc == 8) return true;
    if (bpc == 4 || bpc == 5) return v >= 0x30 && v <= 0x3F;
    return v >= 0x20 && v <= 0x5F;
}

}  // namespace

std::string CardFileTimestamp(const std::tm& local) {
    char text[64];
    std::snprintf(text, sizeof text, "%d-%d-%d  %d:%d:%d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string CardFileTrackLine(int index, std::string_view text, DataType type) {
    const char start = kStartCharacters[index];
    if (type == DataType::kRaw) {
        std::string line(1, start);
        line.append(text).push_back('?');
        return line;
    }
    // The text carries its own sentinels at both ends; they are replaced.
    std::string line(text);
    if (line.empty()) return std::string(1, start) + "?";
    line.front() = start;
    if (line.size() == 1) return line + "?";
    line.back() = '?';
    return line;
}

std::string CardFileRecord(const std::tm& local, const CardTracks& card, DataType type) {
    std::string record = CardFileTimestamp(local) + "\n";
    for (int t = 0; t < 3; ++t) record += CardFileTrackLine(t, card.Text(t), type) + "\n";
    return record + "\n\n";
}

std::string CardFileFormatError(int line) {
    return "Line " + std::to_string(line) + " format error,Please Check!!";
}

CardFileReader::Line CardFileReader::ReadLine(std::string& line) {
    using Traits = std::istream::traits_type;
    line.clear();
    bool any = false;
    for (;;) {
        const Traits::int_type ch = in_.get();
        if (Traits::eq_int_type(ch, Traits::eof())) {
            if (!any) return Line::kEnd;
            break;
        }
        any = true;
        if (ch == '\n') break;
        line.push_back(Traits::to_char_type(ch));
        // One byte more may be the CR of a CR LF line end.
        if (line.size() > kCardFileLineMax + 1 ||
            (line.size() == kCardFileLineMax + 1 && line.back() != '\r')) {
            ++line_;
            return Line::kTooLong;
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++line_;
    return line.size() > kCardFileLineMax ? Line::kTooLong : Line::kRead;
}

CardFileReader::Result CardFileReader::Next(const std::array<int, 3>& bpc) {
    Result result;
    int used = 0;
    bool hasData = false;
    std::string line;
    while (used < 3) {
        const Line read = tooLong_ ? Line::kTooLong : ReadLine(line);
        if (read != Line::kRead) {
            if (read == Line::kTooLong && !tooLong_) result.formatErrorLines.push_back(line_);
            tooLong_ = read == Line::kTooLong;
            result.outcome = tooLong_ ? Outcome::kLineTooLong : Outcome::kEndOfFile;
            result.tracks = {};
            return result;
        }
        if (line.find("Error") != std::string::npos || line.find("Black") != std::string::npos) {
            ++used;
            continue;
        }
        const std::size_t start = line.find_first_of("%;+");
        if (start == std::string::npos) {
            if (used == 0) continue;  // time stamps and empty lines before a card
            break;                    // the card is complete
        }
        ++used;
        if (line.back() != '?' || line.size() - start < 2) continue;  // no closing '?': no data
        const int track = line[start] == '%' ? 0 : (line[start] == ';' ? 1 : 2);
        std::string_view data(line.data() + start + 1, line.size() - start - 2);
        if (data == kCardFileNoData) data = {};  // recorded empty: written empty
        // Never longer than a track holds: the line's length is bounded.
        bool valid = true;
        for (char ch : data) {
            if (!InTrackRange(ch, bpc[static_cast<std::size_t>(track)])) {
                valid = false;
                break;
            }
        }
        if (!valid) {
            result.formatErrorLines.push_back(line_);
            continue;
        }
        // A later line for the same track replaces the earlier text whole.
        result.tracks[static_cast<std::size_t>(track)] = std::string(data);
        hasData = true;
    }
    result.outcome = hasData ? Outcome::kCard : Outcome::kNoData;
    return result;
}

}  // namespace tollwick

namespace tollwick {

CardFileAppender::CardFileAppender(const std::string& path) {
    // Binary append: records carry "\n" line ends here; the reader accepts CR LF and LF alike.
    errno = 0;
    std::string refusal;
    file_ = OpenCardDataFile(path, &refusal);
    if (!file_) {
        openError_ = !refusal.empty() ? refusal : errno ? std::strerror(errno) : "cannot open";
    }
}

CardFileAppender::~CardFileAppender() {
    if (file_) std::fclose(file_);
}

bool CardFileAppender::Empty() const {
    return !file_ || IsEmptyFile(file_);
}

bool CardFileAppender::AppendText(const std::string& record) {
    kept_ = true;
    if (!file_) return false;
    return AppendWhole(file_, record, &kept_);
}

bool CardFileAppender::Append(const CardTracks& card, DataType type) {
    return AppendText(CardFileRecord(ToLocalTime(std::time(nullptr)).fields, card, type));
}

}  // namespace tollwick
