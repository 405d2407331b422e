// The Inspector: why the last card read reads as it does, and what it says.
//
// Per track: the format it was read with, the verdict in words (the program's own read, with
// what explains it: stray bits, a wrong or slipped bit, a swipe that ended early, another
// direction or format), the text read and, beside it, a repaired reading marked as a repair, its
// bits as cells grouped by character with the wrong bit marked (BitCellsView), and every bits
// per character, parity, direction and polarity that decodes it, best first. Beside the tracks
// the Fields pane: the card's fields in a recognised format (ISO/IEC 7813 bank cards, AAMVA
// licences), read-only, or "No known format". Account numbers are masked everywhere in the
// window (texts, readings, the characters under the bits, fields) and in the export unless
// "Show account numbers" is ticked. The window follows every card read while it is open; shown
// again, it catches up with the last one.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <optional>

#include "carddata/track_inspector.h"
#include "jobs/job_flags.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QScrollArea;
class QSplitter;
class QTreeWidget;

namespace tollwick {

class BitCellsView;

class InspectorWindow final : public QWidget {
    Q_OBJECT
  public:
    explicit InspectorWindow(QWidget* parent = nullptr);
    ~InspectorWindow() override;

    // A card read; analysed now when the window is shown, else when it is shown next.
    void ShowCard(const CardCapture& capture);
    bool HasCard() const { return capture_.has_value(); }

    // Track 1 to 3.
    BitCellsView* Bits(int track) const;
    QTreeWidget* Candidates(int track) const;
    QLabel* Verdict(int track) const;
    // "Read: ..." and, when a bit was repaired, "Repaired, not read: ..." beside it.
    QLabel* Reading(int track) const;
    std::shared_ptr<const TrackInspection> Inspection(int track) const;
    QLabel* Header() const { return header_; }
    QWidget* TracksPane() const { return tracksPane_; }
    QWidget* FieldsPane() const;
    QLabel* FieldsFormat() const { return fieldsFormat_; }
    QTreeWidget* Fields() const { return fields_; }
    QCheckBox* ShowAccountNumbers() const { return showPan_; }

    // Sizes the window to what it shows now, the tracks pane and the Fields pane each as wide as
    // its content, within `available` (the screen's free area); what does not fit scrolls.
    void FitToContent(const QRect& available);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct TrackPane {
        QGroupBox* box = nullptr;
        QLabel* verdict = nullptr;
        QLabel* reading = nullptr;
        QLabel* zeros = nullptr;
        BitCellsView* bits = nullptr;
        QLabel* candidatesLine = nullptr;
        QTreeWidget* candidates = nullptr;
        std::shared_ptr<const TrackInspection> inspection;
    };

    std::array<TrackPane, 3> tracks_;
    QLabel* header_ = nullptr;
    QWidget* tracksPane_ = nullptr;
    QScrollArea* tracksScroll_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QGroupBox* fieldsPane_ = nullptr;
    QLabel* fieldsFormat_ = nullptr;
    QTreeWidget* fields_ = nullptr;
    QCheckBox* showPan_ = nullptr;
    std::optional<CardCapture> capture_;
    bool stale_ = false;  // a card came while the window was hidden

    void Refresh();
    void RefreshTrack(int index);
    void RefreshFields();
};

}  // namespace tollwick
