#include "settings/profile_store.h"

#include "files/locked_file.h"

#include <string>
#include <utility>

// Only the narrow-character store is used; no conversion library is needed for it. Debian's
// SimpleIni.h keeps the template bodies behind SI_IMPLEMENTATION (its shared library carries
// prebuilt copies and pulls in ICU); defining it here uses the header alone.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace tollwick {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSectionName = "MSR";

// (Also keeps a profile path pointing at a huge file from stalling the program.)
constexpr std::size_t kMaxProfileBytes = ProfileStore::kMaxBytes;

// A line that opens a section name but never closes it is a line of garbage, and the current
// section goes on after it. SimpleIni would instead file the following keys under a section named
// by the rest of the file, so such lines are blanked before parsing. Garbage lines are not kept
// by a rewrite in any case.
std::string WithoutBrokenSectionLines(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view line = bytes.substr(start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        const bool broken = first != std::string_view::npos && line[first] == '[' &&
                            line.find(']', first) == std::string_view::npos;
        if (!broken) out += line;
        if (end < bytes.size()) out += bytes[end];
        start = end + 1;
    }
    return out;
}

// Parsed as the Windows profile calls see a file: case-insensitive names, values verbatim
// without quote processing, every duplicate key kept (the first one is the one read).
class Ini {
  public:
    Ini() : ini_(/*isUtf8=*/false, /*multiKey=*/true, /*multiLine=*/false) {
        ini_.SetSpaces(false);
        ini_.SetQuotes(false);
        ini_.SetAllowKeyOnly(false);
    }
    bool Load(const std::string& bytes) {
        const std::string clean = WithoutBrokenSectionLines(bytes);
        return ini_.LoadData(clean.data(), clean.size()) >= 0;
    }
    CSimpleIniA& operator*() { return ini_; }
    CSimpleIniA* operator->() { return &ini_; }

  private:
    CSimpleIniA ini_;
};

// A key must come back as the same key when the file is parsed again.
bool StorableKey(std::string_view key) {
    if (key.empty()) return false;
    if (key.find_first_of(std::string_view("=\r\n\0", 4)) != std::string_view::npos) return false;
    const char first = key.front();
    const char last = key.back();
    if (first == '[' || first == ';' || first == '#') return false;
    return first != ' ' && first != '\t' && last != ' ' && last != '\t';
}

// A value lives on one line.
bool StorableText(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Every line end of `text` becomes CR LF or LF.
std::string WithLineEnds(std::string_view text, bool crlf) {
    std::string out;
    out.reserve(text.size() + (crlf ? text.size() / 8 : 0));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\r' || ch == '\n') {
            if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += crlf ? "\r\n" : "\n";
        } else {
            out += ch;
        }
    }
    return out;
}

// The parser stops at a zero byte; reading or rewriting such a file (a UTF-16 file, for one)
// would drop everything after it.
bool HoldsZeroByte(const FileContents& contents) {
    return contents.bytes.find('\0') != std::string::npos;
}

std::string ProblemOf(const FileContents& contents, const fs::path& path) {
    if (contents.state == FileState::kUnusable) {
        return "cannot read the settings file " + path.string() +
               " (not a readable file of at most 1 MiB)";
    }
    if (HoldsZeroByte(contents)) {
        return "the settings file " + path.string() +
               " holds a zero byte: it is not a profile this program can read or rewrite";
    }
    return {};
}

// The first value of `key` in section MSR, when it is the only one.
std::optional<std::string> SoleValue(Ini& ini, const std::string& key) {
    CSimpleIniA::TNamesDepend values;
    if (!ini->GetAllValues(kSectionName, key.c_str(), values) || values.size() != 1)
        return std::nullopt;
    return std::string(values.front().pItem);
}

}  // namespace

ProfileStore::ProfileStore(fs::path path, Reads reads, LockWait wait)
    : path_(std::move(path)), reads_(reads), wait_(std::move(wait)) {}

FileContents ProfileStore::Contents() const {
    if (reads_ == Reads::kEveryCall) return ReadWholeFile(path_, kMaxProfileBytes);
    if (!seen_) seen_ = ReadWholeFile(path_, kMaxProfileBytes);
    return *seen_;
}

std::optional<std::string> ProfileStore::Problem() const {
    std::string problem = ProblemOf(Contents(), path_);
    if (problem.empty()) return std::nullopt;
    return problem;
}

std::string ProfileStore::Read(std::string_view key,
                               std::optional<std::string_view> defaultText) const {
    std::string result(defaultText.value_or(std::string_view()));
    const FileContents contents = Contents();
    if (contents.state == FileState::kRead && !HoldsZeroByte(contents)) {
        Ini ini;
        if (ini.Load(contents.bytes)) {
            const std::string name(key);
            if (const char* value = ini->GetValue(kSectionName, name.c_str(), nullptr)) {
                result = value;
            }
        }
    }
    // The Windows profile call copies at most kValueBufferSize - 1 characters into its buffer
    // (the last byte holds the terminator); a longer value reads cut short, here as there.
    if (result.size() >= kValueBufferSize) result.resize(kValueBufferSize - 1);
    return result;
}

bool ProfileStore::Write(std::string_view key, std::string_view text) {
    const Entry entry{key, text};
    return Write(std::span<const Entry>(&entry, 1));
}

bool ProfileStore::Write(std::span<const Entry> entries) {
    lastError_.clear();
    for (const Entry& entry : entries) {
        if (!StorableKey(entry.key) || !StorableText(entry.text)) {
            lastError_ = "the key " + std::string(entry.key) + " or its text cannot be stored in " +
                         path_.string();
            return false;
        }
    }
    // Whether every entry already holds its text in the file whose bytes are given.
    const auto holdsAll = [&entries](Ini& ini) {
        for (const Entry& entry : entries) {
            if (SoleValue(ini, std::string(entry.key)) != std::string(entry.text)) return false;
        }
        return true;
    };
    if (reads_ == Reads::kOnce) {
        const FileContents seen = Contents();
        Ini ini;
        if (ProblemOf(seen, path_).empty() && ini.Load(seen.bytes) && holdsAll(ini)) return true;
    }
    // The file is read, changed and replaced under its lock: a second program (or a second
    // Tollwick) writing other keys at the same moment keeps its change too.
    std::string why;
    std::optional<std::string> written;
    const auto change = [&](const FileContents& contents) -> std::optional<std::string> {
        why = ProblemOf(contents, path_);
        if (!why.empty()) return std::nullopt;
        Ini ini;
        if (!ini.Load(contents.bytes)) {
            why = "cannot parse the settings file " + path_.string();
            return std::nullopt;
        }
        if (holdsAll(ini)) return std::nullopt;  // nothing to change: the file stays as it is
        for (const Entry& entry : entries) {
            const std::string name(entry.key);
            const std::string value(entry.text);
            // Replacing drops any duplicates of the key and keeps the place and comment of the
            // first.
            if (ini->SetValue(kSectionName, name.c_str(), value.c_str(), nullptr, true) < 0) {
                why = "cannot store " + name + " in " + path_.string();
                return std::nullopt;
            }
        }
        std::string saved;
        // The byte order mark is written again only when the file had one.
        if (ini->Save(saved, /*addSignature=*/true) < 0) {
            why = "cannot store the settings in " + path_.string();
            return std::nullopt;
        }
        const bool crlf = contents.bytes.find("\r\n") != std::string::npos;
        written = WithLineEnds(saved, crlf);
        return written;
    };
    const bool done = RewriteFileLocked(path_, kMaxProfileBytes, change, &lastError_, wait_);
    if (!done) return false;
    if (!why.empty()) {
        lastError_ = why;
        return false;
    }
    if (written && reads_ == Reads::kOnce) seen_ = FileContents{FileState::kRead, *written};
    return true;
}

}  // namespace tollwick
