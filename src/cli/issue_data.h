// issue's data file from standard input: kept in a private temporary file (0600, removed at the
// end), so that the run can read it twice (the check of every record, then the cards) and digest
// it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tollwick {

class SpooledInput {
  public:
    // Copies standard input into a new private file of the temporary folder. Nothing, with the
    // reason in `error`: an interrupt during the wait ("interrupted"), a line longer than any
    // record (said at its first byte too many), more than 1 GiB, a failed write.
    static std::unique_ptr<SpooledInput> FromStandardInput(std::string& error);
    ~SpooledInput();
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace tollwick
