#include "device/reader_status.h"

namespace tollwick {

std::string_view StatusText(CommandStatus status) {
    switch (status) {
        case CommandStatus::kOk:
            return "done";
        case CommandStatus::kFailed:
            return "not connected, the link failed or the reader refused the command";
        case CommandStatus::kBadReply:
            return "the reader's reply was not the expected one";
        case CommandStatus::kNoReply:
            return "the reader did not reply";
        case CommandStatus::kTooLong:
            return "the tracks are too long to be written in one block";
    }
    return "unknown command status";
}

std::string_view StatusText(CardStatus status) {
    switch (status) {
        case CardStatus::kDone:
            return "done";
        case CardStatus::kNoReplyYet:
            return "no reply yet";
        case CardStatus::kNotPending:
            return "nothing was waiting for a status";
        case CardStatus::kRejected:
            return "the reader rejected the card";
    }
    return "unknown card status";
}

std::string_view StatusText(ReceiveResult result) {
    switch (result) {
        case ReceiveResult::kReceived:
            return "a card was read";
        case ReceiveResult::kSplitFailed:
            return "the read block could not be taken apart";
        case ReceiveResult::kNoSwipe:
            return "no card swiped yet";
        case ReceiveResult::kNotConnected:
            return "not connected";
    }
    return "unknown read result";
}

}  // namespace tollwick
