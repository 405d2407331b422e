// Card text files: the records To File appends, and the line rules by which From File reads
// them back (and files written by hand).
#pragma once

#include <array>
#include <cstdio>
#include <ctime>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/data_type.h"
#include "carddata/track_format.h"

namespace tollwick {

// "2026-12-6  9:5:7": no leading zeros, two blanks between date and time.
std::string CardFileTimestamp(const std::tm& local);

// One track line: start character ('%', ';', '+' by track), the track's characters, '?'.
// With the Raw Type the whole text stands between them; otherwise the text's own first and last
// characters (its sentinels) are replaced.
std::string CardFileTrackLine(int index, std::string_view text, DataType type);

// A whole record: time stamp, three track lines, two empty lines, each line ending in "\n".
std::string CardFileRecord(const std::tm& local, const CardTracks& card, DataType type);

// The most data characters a line can give: the longest text a track holds (a Raw Type record
// carries up to 254 hex digits).
inline constexpr std::size_t kCardFileLineData = kTrackBufferSize - 1;
// The longest line a card file may hold, its line end left out: a track line of the longest
// text, with its start character and '?'. A longer line is no card file's: it is a format
// error found at its first byte past this length, so that an endless line (/dev/zero) costs
// neither memory nor time.
inline constexpr std::size_t kCardFileLineMax = kCardFileLineData + 2;
// What To File records for a track that read empty; it comes back as an empty track.
inline constexpr std::string_view kCardFileNoData = "NO DATA";

class CardFileReader {
  public:
    enum class Outcome {
        kCard,         // a card with data: write it
        kNoData,       // a card made only of unusable lines ("End of File!!")
        kEndOfFile,    // the file ended ("End of File!!!"); a card begun is not written
        kLineTooLong,  // a line longer than kCardFileLineMax (the last of formatErrorLines):
                       // the file is read no further; a card begun is not written
    };
    struct Result {
        Outcome outcome = Outcome::kEndOfFile;
        TrackTexts tracks;
        // Lines whose data held a character the track cannot carry, in file order.
        std::vector<int> formatErrorLines;
    };

    explicit CardFileReader(std::istream& in) : in_(in) {}
    // Reads the next card with the bits per character of the three tracks in force now. After
    // kLineTooLong every call gives kLineTooLong again.
    Result Next(const std::array<int, 3>& bpc);
    int LineNumber() const { return line_; }

  private:
    enum class Line { kRead, kEnd, kTooLong };
    std::istream& in_;
    int line_ = 0;
    bool tooLong_ = false;
    Line ReadLine(std::string& line);
};

// "Line %d format error,Please Check!!"
std::string CardFileFormatError(int line);

}  // namespace tollwick

namespace tollwick {

// Appends records to a card file or a CSV file of cards; each record reaches the disk whole
// before Append returns, or not at all (AppendWhole: a failed append leaves the file as it was
// before it), so a good card is never lost when the program or the machine stops, and a full
// disk never leaves a fragment that the next record would follow. A file it creates is
// readable by its owner only (mode 0600): it holds names and account numbers. An existing file
// keeps its mode. Links are followed by the rule of FollowLinks (user_file.h).
class CardFileAppender {
  public:
    explicit CardFileAppender(const std::string& path);  // UTF-8; created 0600 when missing
    ~CardFileAppender();
    CardFileAppender(const CardFileAppender&) = delete;
    CardFileAppender& operator=(const CardFileAppender&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    // Why the file could not be opened ("Permission denied", or why a link was not followed).
    const std::string& OpenError() const { return openError_; }
    // True when the file holds nothing yet (a pipe or a terminal never held anything).
    bool Empty() const;

    // False, with errno set, when the record is not in the file; FileKept() then says whether
    // the file is as it was before this record.
    bool Append(const CardTracks& card, DataType type);  // with the local time now
    bool AppendText(const std::string& record);
    bool FileKept() const { return kept_; }

  private:
    std::FILE* file_ = nullptr;
    std::string openError_;
    bool kept_ = true;
};

}  // namespace tollwick
