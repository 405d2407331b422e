// The batch jobs through the whole program: answered file dialogs, a deck of blank cards that
// the virtual reader swipes by itself, and the texts a virtual card carries.
#pragma once

#include <QFile>
#include <deque>
#include <optional>

#include "../jobs_rig.h"
#include "app/file_dialog_seam.h"
#include "device/virtual/deck.h"
#include "session_test_support.h"

namespace tollwick::testing {

class AnsweredFileDialogs final : public FileDialogSeam {
  public:
    std::deque<std::optional<QString>> answers;  // nothing left: cancelled
    std::vector<Purpose> asked;
    std::optional<QString> ChooseCardFile(QWidget*, Purpose purpose) override {
        asked.push_back(purpose);
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class BatchTest : public SessionTest {
  protected:
    static constexpr int kRunMs = 30000;  // a batch of cards, sanitizers included
    AnsweredFileDialogs files;

    void StartBatch(Deck deck) {
        StartReady();
        reader->SetDeck(std::move(deck));
        session->CardJobs().SetFileDialogs(files);
    }
    // The reader swipes the next card of the deck whenever it is armed, after a pause longer
    // than a tick of the monitor with its blink: no two cards fall into one report.
    void AutoSwipeFrom(std::size_t card) {
        reader->SetAutoSwipe(card, std::chrono::milliseconds(kSwipePauseMs), /*advance=*/true);
    }
    static constexpr int kSwipePauseMs = 200;

    // The texts card `index` carries, read with the ISO formats.
    TrackTexts CardTexts(std::size_t index) const {
        return jobs_test::TextsOnCard(*reader->Card(index));
    }
    bool IsBlank(std::size_t index) const {
        const VirtualCard card = *reader->Card(index);
        return card.tracks[0].empty() && card.tracks[1].empty() && card.tracks[2].empty();
    }
};

inline Deck BlankDeck(std::size_t cards) {
    Deck deck;
    for (std::size_t i = 0; i < cards; ++i) {
        VirtualCard card;
        card.name = "Blank " + std::to_string(i);
        deck.cards.push_back(std::move(card));
    }
    return deck;
}

inline QString ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("<cannot open>");
    return QString::fromLatin1(file.readAll());
}

inline bool WriteWholeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

}  // namespace tollwick::testing
