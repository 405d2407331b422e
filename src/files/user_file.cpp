#include "files/user_file.h"

#include "files/utf8_path.h"

namespace tollwick {

std::string SharedFileProblem(const std::vector<NamedFile>& files) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].path.empty() || files[i].path == "-") continue;
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if (files[j].path.empty() || files[j].path == "-") continue;
            if (SameFile(PathFromUtf8(files[i].path), PathFromUtf8(files[j].path))) {
                return files[i].role + " and " + files[j].role + " name the same file (" +
                       files[j].path + "): give each its own file";
            }
        }
    }
    return {};
}

}  // namespace tollwick
