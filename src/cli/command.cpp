#include "cli/command.h"

#include "files/utf8_path.h"

namespace tollwick {

CliContext::~CliContext() = default;

int CliContext::OpenSession(bool cardAfterCard) {
    if (const int status = CheckFileRoles({})) return status;
    session_ = std::make_unique<Session>(options_, out_, cardAfterCard);
    return session_->Prepare();
}

int CliContext::CheckFileRoles(std::vector<NamedFile> files) {
    if (options_.simulate) files.push_back({"--deck", options_.deckPath});
    files.push_back({options_.profilePath.empty() ? std::string("the profile") : "--profile",
                     PathToUtf8(ProfilePathOf(options_))});
    const std::string problem = SharedFileProblem(files);
    return problem.empty() ? kExitDone : out_.Fail(kExitUsage, problem);
}

int CliContext::Finish(int status) {
    if (!session_) return status;
    // Cut short by an interrupt or by lost output: the reader may still wait for a card.
    if (Interrupted() || out_.StandardOutputFailed()) session_->Disarm();
    const int saved = session_->SaveDeck();
    return status == kExitDone ? saved : status;
}

int CliContext::Interrupt(const std::string& cardsDone) {
    return out_.Fail(kExitInterrupted,
                     cardsDone.empty() ? std::string("interrupted") : "interrupted; " + cardsDone);
}

std::string Cards(int count) {
    if (count == 0) return "no card";
    return std::to_string(count) + (count == 1 ? " card" : " cards");
}

}  // namespace tollwick
