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
    // Copies standard input. Nothing, with the reason in `error`.
    static std::unique_ptr<SpooledInput> FromStandardInput(std::string& error);
    ~SpooledInput();
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace tollwick
