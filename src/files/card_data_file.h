// Files that hold card data: card files read back (From File, write --from-file), and the files
// card records are appended to (a card file, a CSV file of cards), opened private, each record
// made to reach the disk whole, or not at all, before the card is reported. Nothing here blocks
// on a FIFO or a device put where a file belongs, and no wait for input outlives a stop request.
// One interface, one implementation per platform (card_data_file_posix.cpp,
// card_data_file_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stop_token>
#include <streambuf>
#include <string>
#include <string_view>

namespace tollwick {

// Opens the card file `path` (UTF-8) into `in` to read it, in binary. Only a file on a disk is
// opened: a FIFO, a device (a pipe or a console on Windows) or a folder is refused at once, so
// that nothing blocks on it. False, with errno set, when it is refused or cannot be opened.
bool OpenCardFileToRead(const std::string& path, std::ifstream& in);

// Opens `path` (UTF-8) for appending, in binary. A file it creates holds card data, so only
// its owner may read it, whatever the umask (mode 0600; on Windows a protected DACL for the user
// and SYSTEM); an existing file keeps its permissions. A new file is made by this open or not at
// all (O_EXCL, O_NOFOLLOW: never a link or a file that appeared meanwhile), and a symbolic link
// is followed only by FollowLinks' rule (user_file.h): a link that another user planted in a
// shared sticky folder is refused, with the reason in *refusal. A FIFO that no program reads is
// refused rather than waited for (ENXIO). nullptr, with errno set, when it cannot be opened (a
// folder, a missing folder, no permission, a refused link: EPERM).
std::FILE* OpenCardDataFile(const std::string& path, std::string* refusal = nullptr);

// Appends `bytes` (one record) to `file`, from OpenCardDataFile, whole or not at all: the bytes
// are written, then made to reach the disk (fsync; FlushFileBuffers); when either fails, the
// file is cut back to the size it had before, so that a later record never follows a fragment
// of this one. Other Tollwick programs appending to the same file wait meanwhile (an advisory
// lock), so nothing of theirs is cut. A pipe or a terminal is only written and flushed. False,
// with errno set, when the record is not in the file; *restored then says whether the file is
// as it was before (false for a pipe, or when the cut failed too).
bool AppendWhole(std::FILE* file, std::string_view bytes, bool* restored = nullptr);

// Flushes `file` and, when it is a file on a disk, waits until its contents have reached the
// disk (fsync; FlushFileBuffers). A pipe or a terminal is only flushed. False, with errno set,
// when either fails.
bool FlushToDisk(std::FILE* file);

// True when `file` holds nothing yet: a file of size 0, or a pipe or a terminal (which have no
// earlier contents).
bool IsEmptyFile(std::FILE* file);

// How long a wait for input goes on before it looks at its stop request again.
inline constexpr int kInputSliceMs = 50;

// A card file, or standard input, read as a stream (write --from-file): a file, a pipe, a FIFO
// or a terminal. Every wait for bytes ends within kInputSliceMs of a stop request: the stream
// then ends, and Stopped() says that it was cut short. Opening a FIFO does not wait for its
// writer.
class StoppableInput final : public std::streambuf {
  public:
    // "-" is standard input. nullptr, with errno set, when the file cannot be opened (a folder:
    // EISDIR).
    static std::unique_ptr<StoppableInput> Open(const std::string& path, std::stop_token stop);
    ~StoppableInput() override;
    StoppableInput(const StoppableInput&) = delete;
    StoppableInput& operator=(const StoppableInput&) = delete;

    bool Stopped() const { return stopped_; }
    bool Failed() const { return failed_; }  // a read failed (errno was set then)

  protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        const long got = ReadSome(buffer_, sizeof buffer_);
        if (got <= 0) return traits_type::eof();
        setg(buffer_, buffer_, buffer_ + got);
        return traits_type::to_int_type(*gptr());
    }

  private:
    StoppableInput(std::intptr_t handle, bool owned, std::stop_token stop)
        : handle_(handle), owned_(owned), stop_(std::move(stop)) {}
    // Bytes read into `into`: 0 at the end, on a stop or on a failure (flags set).
    long ReadSome(char* into, std::size_t size);

    std::intptr_t handle_;  // a descriptor; on Windows a HANDLE
    bool owned_;
    std::stop_token stop_;
    bool stopped_ = false;
    bool failed_ = false;
    char buffer_[4096];
};

}  // namespace tollwick
