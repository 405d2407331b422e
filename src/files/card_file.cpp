#include "files/card_file.h"

#include <cstdio>

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

bool CardFileReader::ReadLine(std::string& line) {
    if (!std::getline(in_, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++line_;
    return true;
}

CardFileReader::Result CardFileReader::Next(const std::array<int, 3>& bpc) {
    Result result;
    int used = 0;
    bool hasData = false;
    std::string line;
    while (used < 3) {
        if (!ReadLine(line)) {
            result.outcome = Outcome::kEndOfFile;
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
        bool valid = data.size() <= kCardFileLineData;
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
    file_ = OpenCardDataFile(path);
}

CardFileAppender::~CardFileAppender() {
    if (file_) std::fclose(file_);
}

bool CardFileAppender::AppendText(const std::string& record) {
    if (!file_) return false;
    if (std::fwrite(record.data(), 1, record.size(), file_) != record.size()) return false;
    return FlushToDisk(file_);
}

bool CardFileAppender::Append(const CardTracks& card, DataType type) {
    return AppendText(CardFileRecord(ToLocalTime(std::time(nullptr)).fields, card, type));
}

}  // namespace tollwick
