// The small window that stands in for the operator's hand when the program runs on the virtual
// reader: the deck of cards, a Swipe button, unplugging and plugging the reader, a one-shot
// write or erase fault, swiping by itself (Auto-swipe), what the reader is armed for, and the
// dirt of real cards and readers: the chance of each fault for every card or for the selected
// card, the input buffer and the seed the faults are drawn from.
#pragma once

#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carddata/track_format.h"
#include "device/virtual/deck.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace tollwick {

class CTollwickDlg;
class VirtualReader;

class VirtualReaderWindow final : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPollMs = 100;
    // With Auto-swipe the next card goes through this long after the reader is armed.
    static constexpr int kAutoSwipeMs = 300;

    // With a deck file, the deck is written back to it after every card the reader changed.
    // The reader outlives the window.
    explicit VirtualReaderWindow(VirtualReader& reader,
                                 std::optional<std::filesystem::path> deckFile = std::nullopt,
                                 QWidget* parent = nullptr);
    ~VirtualReaderWindow() override;

    // The window can be closed and comes back: F5 swipes from the main window as well, and the
    // main window's context menu and Ctrl+Shift+V show this window again. A card the reader
    // changes is named by what it holds, decoded with the main window's formats in force
    // ("written %B123?"). The main window outlives this one.
    void JoinMainWindow(CTollwickDlg& window);
    void ShowAgain();

    // Swipes the selected card; false when none is selected or the reader is unplugged.
    bool SwipeSelected();
    void SelectCard(int index);
    int SelectedCard() const;
    void SetPlugged(bool plugged);
    // Whenever the reader is armed, the selected card is swiped after a short pause and the
    // selection moves on to the next card (back to the first after the last).
    void SetAutoSwipe(bool on);
    // Verify after write: the card just written is to come through again. With Auto-swipe on,
    // the selection goes back to it and it goes through next; by hand it is still selected.
    void SwipeSameCardAgain();

    QListWidget* Cards() const { return cards_; }
    QPushButton* SwipeButton() const { return swipe_; }
    QPushButton* PlugButton() const { return plug_; }
    QCheckBox* FailNext() const { return failNext_; }
    QCheckBox* AutoSwipe() const { return autoSwipe_; }
    QLabel* ArmedLine() const { return armed_; }
    QLabel* DeckLine() const { return deckLine_; }
    // The dirt: which cards the boxes below speak for (0 every card, 1 the selected card); per
    // fault its chance in percent (on the selected card, the lowest value means "as the deck");
    // the input buffer in reports (0 on a card: as the deck); the seed (every card only).
    // A change goes to the reader at once and to the deck file, when there is one.
    QPushButton* DirtButton() const { return dirtButton_; }  // shows and hides the boxes
    QComboBox* FaultScope() const { return faultScope_; }
    QDoubleSpinBox* FaultBox(Fault fault) const {
        return faultBoxes_[static_cast<std::size_t>(fault)];
    }
    QSpinBox* InputBufferBox() const { return inputBuffer_; }
    QSpinBox* SeedBox() const { return seed_; }
    QAction* SwipeAction() const { return swipeAction_; }
    QAction* ShowAction() const { return showAction_; }

  signals:
    // The deck file was written after a card changed (index from 0), or could not be.
    void DeckSaved(int card, bool ok);

  private:
    VirtualReader& reader_;
    std::optional<std::filesystem::path> deckFile_;
    QListWidget* cards_ = nullptr;
    QPushButton* swipe_ = nullptr;
    QPushButton* plug_ = nullptr;
    QCheckBox* failNext_ = nullptr;
    QCheckBox* autoSwipe_ = nullptr;
    QLabel* armed_ = nullptr;
    QLabel* deckLine_ = nullptr;
    QPushButton* dirtButton_ = nullptr;
    QComboBox* faultScope_ = nullptr;
    std::array<QDoubleSpinBox*, kFaultCount> faultBoxes_{};
    QSpinBox* inputBuffer_ = nullptr;
    QSpinBox* seed_ = nullptr;
    QTimer* poll_ = nullptr;
    QAction* swipeAction_ = nullptr;
    QAction* showAction_ = nullptr;
    std::function<TrackSet()> formats_;  // ISO until the main window is joined
    // The cards as the list shows them, and the names given to the cards the reader changed
    // (they go to the deck file with the card).
    std::vector<VirtualCard> shown_;
    std::map<std::size_t, std::string> renamed_;
    // Carries the reader's card changes over to the window's thread while the window lives.
    struct Relay;
    std::shared_ptr<Relay> relay_;

    void FillCards();
    QString ItemText(std::size_t index) const;
    void Poll();
    void OnCardChanged(const CardChange& change);
    void FollowAutoSwipe();
    void OnSelectionChanged(int row);
    bool CardScope() const;
    void ShowFaults();
    void ApplyFaults();
    void ApplySeed();
    void SaveToDeckFile(const std::function<bool(Deck&)>& change, const QString& what);
};

}  // namespace tollwick
