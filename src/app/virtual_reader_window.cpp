#include "app/virtual_reader_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <limits>
#include <mutex>
#include <string>

#include "app/file_names.h"
#include "app/tollwick_dlg.h"
#include "carddata/card_summary.h"
#include "device/virtual/deck.h"
#include "device/virtual/virtual_reader.h"
#include "jobs/format_state.h"

namespace tollwick {
namespace {

QString ArmedText(VirtualReader::Armed armed, bool plugged) {
    if (!plugged) return QStringLiteral("Unplugged");
    switch (armed) {
        case VirtualReader::Armed::kRead:
            return QStringLiteral("Waiting for a card to read");
        case VirtualReader::Armed::kWrite:
            return QStringLiteral("Waiting for a card to write");
        case VirtualReader::Armed::kErase:
            return QStringLiteral("Waiting for a card to erase");
        case VirtualReader::Armed::kIdle:
            break;
    }
    return QStringLiteral("Idle");
}

QString PathText(const std::filesystem::path& path) {
    return FileNameText(path);
}

// A chance as the boxes show it: percent, with "as the deck" below 0 on a card.
constexpr double kAsDeck = -1;
constexpr int kMaxInputBuffer = 4096;

// The window waits this long for a deck file that another Tollwick holds, then says so.
constexpr std::chrono::milliseconds kDeckLockWait{5000};

}  // namespace

struct VirtualReaderWindow::Relay {
    std::mutex mutex;
    VirtualReaderWindow* window = nullptr;  // null once the window goes

    void Post(const CardChange& change) {
        std::lock_guard lock(mutex);
        if (window == nullptr) return;
        QMetaObject::invokeMethod(
            window, [w = window, change] { w->OnCardChanged(change); }, Qt::QueuedConnection);
    }
};

VirtualReaderWindow::VirtualReaderWindow(VirtualReader& reader,
                                         std::optional<std::filesystem::path> deckFile,
                                         QWidget* parent)
    : QWidget(parent, Qt::Window), reader_(reader), deckFile_(std::move(deckFile)) {
    setWindowTitle(QStringLiteral("Virtual reader"));
    setObjectName(QStringLiteral("virtual_reader"));

    auto* layout = new QVBoxLayout(this);
    auto* cardsLabel = new QLabel(QStringLiteral("&Cards:"), this);
    cards_ = new QListWidget(this);
    cards_->setAccessibleName(QStringLiteral("Cards"));
    cardsLabel->setBuddy(cards_);
    layout->addWidget(cardsLabel);
    layout->addWidget(cards_, 1);

    swipe_ = new QPushButton(QStringLiteral("&Swipe (F5)"), this);
    swipe_->setToolTip(
        QStringLiteral("Swipes the selected card through the reader (F5 in any Tollwick window; "
                       "a double click on a card does the same)"));
    layout->addWidget(swipe_);
    plug_ = new QPushButton(QStringLiteral("&Unplug"), this);
    plug_->setToolTip(QStringLiteral("Pulls the reader's cable, or plugs it in again"));
    layout->addWidget(plug_);
    failNext_ = new QCheckBox(QStringLiteral("&Fail next write or erase"), this);
    failNext_->setToolTip(
        QStringLiteral("The reader refuses the next card written or erased, then works again"));
    layout->addWidget(failNext_);
    autoSwipe_ = new QCheckBox(QStringLiteral("&Auto-swipe"), this);
    autoSwipe_->setToolTip(QStringLiteral(
        "Whenever the reader waits for a card, the selected card goes through after "
        "a short pause and the next card is selected: batch jobs run by themselves"));
    layout->addWidget(autoSwipe_);

    // The dirt takes room: shown on demand.
    dirtButton_ = new QPushButton(QStringLiteral("&Dirt of real cards..."), this);
    dirtButton_->setCheckable(true);
    dirtButton_->setToolTip(QStringLiteral(
        "Noise, partial swipes, bit errors, slow statuses, a small input buffer, a busy reader, "
        "Hi-Co cards: the chance of each, for every card or the selected one"));
    layout->addWidget(dirtButton_);
    auto* dirt = new QGroupBox(QStringLiteral("Dirt"), this);
    dirt->setVisible(false);
    connect(dirtButton_, &QPushButton::toggled, dirt, &QWidget::setVisible);
    auto* form = new QFormLayout(dirt);
    faultScope_ = new QComboBox(dirt);
    faultScope_->addItems({QStringLiteral("Every card"), QStringLiteral("The selected card")});
    faultScope_->setToolTip(QStringLiteral(
        "The chances below hold for every card that sets none of its own, or for the selected "
        "card alone"));
    form->addRow(QStringLiteral("&Applies to:"), faultScope_);
    for (const FaultInfo& info : FaultTable()) {
        auto* box = new QDoubleSpinBox(dirt);
        box->setDecimals(1);
        box->setSuffix(QStringLiteral(" %"));
        box->setAccessibleName(QString::fromUtf8(info.label));
        faultBoxes_[static_cast<std::size_t>(info.fault)] = box;
        form->addRow(QString::fromUtf8(info.label) + QLatin1Char(':'), box);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { ApplyFaults(); });
    }
    inputBuffer_ = new QSpinBox(dirt);
    inputBuffer_->setSuffix(QStringLiteral(" reports"));
    inputBuffer_->setToolTip(
        QStringLiteral("Reports held for the program while it does not read; the rest are lost"));
    inputBuffer_->setAccessibleName(QStringLiteral("Input buffer"));
    form->addRow(QStringLiteral("Input &buffer:"), inputBuffer_);
    seed_ = new QSpinBox(dirt);
    seed_->setRange(0, std::numeric_limits<int>::max());
    seed_->setToolTip(
        QStringLiteral("The faults are drawn from this number: the same seed, the "
                       "same faults on the same swipes"));
    seed_->setAccessibleName(QStringLiteral("Seed"));
    form->addRow(QStringLiteral("S&eed:"), seed_);
    layout->addWidget(dirt);
    armed_ = new QLabel(this);
    armed_->setAccessibleDescription(QStringLiteral("Reader state"));
    layout->addWidget(armed_);
    deckLine_ = new QLabel(this);
    deckLine_->setWordWrap(true);
    deckLine_->setAccessibleDescription(QStringLiteral("Deck file"));
    deckLine_->setText(deckFile_ ? QStringLiteral("Deck: %1").arg(PathText(*deckFile_))
                                 : QStringLiteral("Deck: sample cards, not saved"));
    layout->addWidget(deckLine_);

    FillCards();
    ShowFaults();

    connect(swipe_, &QPushButton::clicked, this, [this] { SwipeSelected(); });
    connect(cards_, &QListWidget::itemActivated, this, [this] { SwipeSelected(); });
    // One action per key for the whole program: a second shortcut on the same key would make
    // the key ambiguous, and a shortcut works only while a window that holds it is visible.
    swipeAction_ = new QAction(QStringLiteral("Swipe the selected card"), this);
    swipeAction_->setShortcut(QKeySequence(Qt::Key_F5));
    swipeAction_->setShortcutContext(Qt::ApplicationShortcut);
    connect(swipeAction_, &QAction::triggered, this, [this] { SwipeSelected(); });
    addAction(swipeAction_);
    showAction_ = new QAction(QStringLiteral("Show the &Virtual reader"), this);
    showAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    showAction_->setShortcutContext(Qt::ApplicationShortcut);
    connect(showAction_, &QAction::triggered, this, &VirtualReaderWindow::ShowAgain);
    addAction(showAction_);
    connect(plug_, &QPushButton::clicked, this, [this] { SetPlugged(!reader_.IsPlugged()); });
    connect(failNext_, &QCheckBox::toggled, this, [this](bool on) { reader_.SetRejectNext(on); });
    connect(autoSwipe_, &QCheckBox::toggled, this, [this](bool on) { SetAutoSwipe(on); });
    connect(inputBuffer_, &QSpinBox::valueChanged, this, [this] { ApplyFaults(); });
    connect(seed_, &QSpinBox::valueChanged, this, [this] { ApplySeed(); });
    connect(faultScope_, &QComboBox::currentIndexChanged, this, [this] { ShowFaults(); });
    connect(cards_, &QListWidget::currentRowChanged, this, [this](int row) {
        OnSelectionChanged(row);
        if (CardScope()) ShowFaults();
    });
    // A click makes a card both selected and current; assistive technology only selects it. The
    // card selected is the one that goes through either way.
    connect(cards_, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = cards_->selectedItems();
        if (selected.size() == 1 && cards_->row(selected.front()) != SelectedCard())
            SelectCard(cards_->row(selected.front()));
    });

    // The reader tells of changed cards on whichever thread talks to it, the job worker's most
    // of the time.
    relay_ = std::make_shared<Relay>();
    relay_->window = this;
    reader_.SetOnCardChanged([relay = relay_](const CardChange& change) { relay->Post(change); });

    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, &VirtualReaderWindow::Poll);
    poll_->start();
    Poll();
}

VirtualReaderWindow::~VirtualReaderWindow() {
    reader_.SetOnCardChanged(nullptr);
    if (autoSwipe_->isChecked()) reader_.SetAutoSwipe(std::nullopt, {}, false);
    std::lock_guard lock(relay_->mutex);
    relay_->window = nullptr;  // a call already under way posts nothing
}

void VirtualReaderWindow::JoinMainWindow(CTollwickDlg& window) {
    formats_ = [&window] { return window.Format().Get().settings; };
    window.addAction(swipeAction_);
    window.AddContextMenuAction(showAction_);
}

void VirtualReaderWindow::ShowAgain() {
    showNormal();
    raise();
    activateWindow();
}

void VirtualReaderWindow::FillCards() {
    const int selected = std::max(SelectedCard(), 0);
    cards_->clear();
    shown_ = reader_.GetDeck().cards;
    for (std::size_t i = 0; i < shown_.size(); ++i) cards_->addItem(ItemText(i));
    if (cards_->count() > 0) SelectCard(std::min(selected, cards_->count() - 1));
}

QString VirtualReaderWindow::ItemText(std::size_t index) const {
    const auto renamed = renamed_.find(index);
    const std::string& name = renamed != renamed_.end() ? renamed->second : shown_[index].name;
    return QStringLiteral("%1  %2").arg(index + 1).arg(QString::fromStdString(name));
}

bool VirtualReaderWindow::SwipeSelected() {
    const int index = SelectedCard();
    if (index < 0) return false;
    const bool done = reader_.Swipe(static_cast<std::size_t>(index));
    Poll();
    return done;
}

void VirtualReaderWindow::SelectCard(int index) {
    cards_->setCurrentRow(index);
}

int VirtualReaderWindow::SelectedCard() const {
    return cards_->currentRow();
}

void VirtualReaderWindow::SetPlugged(bool plugged) {
    if (plugged) {
        reader_.Plug();
    } else {
        reader_.Unplug();
    }
    Poll();
}

void VirtualReaderWindow::SetAutoSwipe(bool on) {
    if (autoSwipe_->isChecked() != on) {
        autoSwipe_->setChecked(on);  // comes back here through toggled
        return;
    }
    if (!on) {
        reader_.SetAutoSwipe(std::nullopt, {}, false);
        return;
    }
    if (SelectedCard() < 0 && cards_->count() > 0) SelectCard(0);
    const int selected = SelectedCard();
    reader_.SetAutoSwipe(selected < 0 ? std::nullopt : std::optional<std::size_t>(selected),
                         std::chrono::milliseconds(kAutoSwipeMs), /*advance=*/true);
}

void VirtualReaderWindow::SwipeSameCardAgain() {
    const int count = cards_->count();
    if (!autoSwipe_->isChecked() || count == 0) return;
    const auto next = reader_.NextAutoSwipeCard();
    if (!next) return;
    // The card before the next one went through last; before the first, the deck's last.
    const std::size_t clamped = std::min(*next, static_cast<std::size_t>(count));
    const int last = clamped == 0 ? count - 1 : static_cast<int>(clamped) - 1;
    {
        const QSignalBlocker quiet(cards_);
        SelectCard(last);
    }
    reader_.SetAutoSwipe(static_cast<std::size_t>(last), std::chrono::milliseconds(kAutoSwipeMs),
                         /*advance=*/true);
}

// The selection shows the card that goes through next; past the last card the deck starts over.
void VirtualReaderWindow::FollowAutoSwipe() {
    if (!autoSwipe_->isChecked() || cards_->count() == 0) return;
    const auto next = reader_.NextAutoSwipeCard();
    if (!next) return;
    if (*next >= static_cast<std::size_t>(cards_->count())) {
        {
            const QSignalBlocker quiet(cards_);
            SelectCard(0);
        }
        reader_.SetAutoSwipe(0, std::chrono::milliseconds(kAutoSwipeMs), /*advance=*/true);
        return;
    }
    if (static_cast<int>(*next) != SelectedCard()) {
        const QSignalBlocker quiet(cards_);
        SelectCard(static_cast<int>(*next));
    }
}

void VirtualReaderWindow::OnSelectionChanged(int row) {
    if (!autoSwipe_->isChecked() || row < 0) return;
    const auto next = reader_.NextAutoSwipeCard();
    if (next && *next == static_cast<std::size_t>(row)) return;
    // The operator picked the card to go through next.
    reader_.SetAutoSwipe(static_cast<std::size_t>(row), std::chrono::milliseconds(kAutoSwipeMs),
                         /*advance=*/true);
}

bool VirtualReaderWindow::CardScope() const {
    return faultScope_->currentIndex() == 1;
}

// The boxes show the chances of the scope chosen, as the reader has them now.
void VirtualReaderWindow::ShowFaults() {
    const Deck deck = reader_.GetDeck();
    const int card = SelectedCard();
    const bool onCard = CardScope();
    const bool known = !onCard || (card >= 0 && static_cast<std::size_t>(card) < deck.cards.size());
    const FaultRates rates = !onCard ? deck.faults
                             : known ? deck.cards[static_cast<std::size_t>(card)].faults
                                     : FaultRates{};
    for (const FaultInfo& info : FaultTable()) {
        QDoubleSpinBox* box = FaultBox(info.fault);
        const QSignalBlocker quiet(box);
        // The lowest value reads "as the deck" on a card only; for every card it is 0 %.
        box->setSpecialValueText(onCard ? QStringLiteral("as the deck") : QString());
        box->setRange(onCard ? kAsDeck : 0, 100);
        box->setValue(rates[info.fault] ? *rates[info.fault] * 100 : onCard ? kAsDeck : 0);
        // A weak spot that nobody gave a chance reads wrong on every swipe.
        if (!onCard && info.fault == Fault::kWeak && !rates[info.fault]) box->setValue(100);
        box->setEnabled(known);
    }
    const QSignalBlocker quietBuffer(inputBuffer_);
    inputBuffer_->setSpecialValueText(onCard ? QStringLiteral("as the deck") : QString());
    inputBuffer_->setRange(onCard ? 0 : 1, kMaxInputBuffer);
    inputBuffer_->setValue(
        rates.inputBuffer.value_or(onCard ? 0 : InputBufferReports(deck, deck.cards.size())));
    inputBuffer_->setEnabled(known);
    const QSignalBlocker quietSeed(seed_);
    seed_->setValue(
        static_cast<int>(std::min<uint32_t>(deck.seed, std::numeric_limits<int>::max())));
    seed_->setEnabled(!onCard);
}

void VirtualReaderWindow::ApplyFaults() {
    const bool onCard = CardScope();
    FaultRates rates;
    // For every card a chance as good as none (always, for the weak spot) is left unset, so
    // that the deck file holds only what was asked for.
    for (const FaultInfo& info : FaultTable()) {
        const double chance = FaultBox(info.fault)->value() / 100;
        const double none = info.fault == Fault::kWeak ? 1 : 0;
        if (onCard ? chance >= 0 : chance != none) rates[info.fault] = chance;
    }
    const int buffer = inputBuffer_->value();
    if (onCard ? buffer > 0 : buffer != InputBufferReports(Deck{}, 0)) rates.inputBuffer = buffer;
    if (!onCard) {
        reader_.SetDeckFaults(rates);
        SaveToDeckFile(
            [rates](Deck& deck) {
                deck.faults = rates;
                return true;
            },
            QStringLiteral("The deck's dirt"));
        return;
    }
    const int card = SelectedCard();
    if (card < 0 || !reader_.SetCardFaults(static_cast<std::size_t>(card), rates)) return;
    SaveToDeckFile(
        [rates, card](Deck& deck) {
            if (static_cast<std::size_t>(card) >= deck.cards.size()) return false;
            deck.cards[static_cast<std::size_t>(card)].faults = rates;
            return true;
        },
        QStringLiteral("The dirt of card %1").arg(card + 1));
}

void VirtualReaderWindow::ApplySeed() {
    const auto seed = static_cast<uint32_t>(seed_->value());
    reader_.SetSeed(seed);
    SaveToDeckFile(
        [seed](Deck& deck) {
            deck.seed = seed;
            return true;
        },
        QStringLiteral("The seed"));
}

void VirtualReaderWindow::SaveToDeckFile(const std::function<bool(Deck&)>& change,
                                         const QString& what) {
    if (!deckFile_) {
        deckLine_->setText(QStringLiteral("%1 changed (sample cards, not saved)").arg(what));
        return;
    }
    std::string error;
    const bool ok = UpdateDeckFile(*deckFile_, change, &error, LockWait{kDeckLockWait, {}});
    deckLine_->setText(
        ok ? QStringLiteral("%1 saved to %2").arg(what, PathText(*deckFile_))
           : QStringLiteral("Cannot save the deck: %1").arg(QString::fromStdString(error)));
}

void VirtualReaderWindow::Poll() {
    const bool plugged = reader_.IsPlugged();
    armed_->setText(QStringLiteral("Reader: %1").arg(ArmedText(reader_.ArmedFor(), plugged)));
    plug_->setText(plugged ? QStringLiteral("&Unplug") : QStringLiteral("&Plug in"));
    swipe_->setEnabled(plugged);
    // The fault clears itself on the card it failed.
    const bool pending = reader_.RejectNextPending();
    if (failNext_->isChecked() != pending) {
        const QSignalBlocker quiet(failNext_);
        failNext_->setChecked(pending);
    }
    FollowAutoSwipe();
}

void VirtualReaderWindow::OnCardChanged(const CardChange& change) {
    const std::size_t i = change.index;
    const int index = static_cast<int>(i);
    const TrackSet formats = formats_ ? formats_() : kIsoTrackSet;
    if (!deckFile_) {
        const std::optional<VirtualCard> card = reader_.Card(i);
        if (card && i < shown_.size()) {
            renamed_[i] = ChangedCardName(shown_[i].tracks, card->tracks, formats);
            shown_[i] = *card;
            if (QListWidgetItem* item = cards_->item(index)) item->setText(ItemText(i));
        }
        deckLine_->setText(
            QStringLiteral("Card %1 changed (sample cards, not saved)").arg(index + 1));
        return;
    }
    // Only what the reader did goes to the file, laid over the card as the file holds it now:
    // another program on the same deck file keeps what it wrote meanwhile, on this card too.
    // The reader and the list then take the card as saved.
    std::string error;
    VirtualCard saved;
    const bool ok =
        SaveCardChange(*deckFile_, change, formats, &saved, &error, LockWait{kDeckLockWait, {}});
    if (ok) {
        reader_.RefreshCard(change, saved);
        if (i < shown_.size()) {
            renamed_.erase(i);
            shown_[i] = saved;
            if (QListWidgetItem* item = cards_->item(index)) item->setText(ItemText(i));
        }
    }
    deckLine_->setText(
        ok ? QStringLiteral("Card %1 changed, saved to %2").arg(index + 1).arg(PathText(*deckFile_))
           : QStringLiteral("Cannot save the deck: %1").arg(QString::fromStdString(error)));
    emit DeckSaved(index, ok);
}

}  // namespace tollwick
