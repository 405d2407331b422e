// The bits of one track as read, drawn as cells grouped by character: the Inspector's picture of
// a track.
//
// Clocking zeros before and after the data are one grey run each ("40 zeros"); the characters
// are cut from the start sentinel at the track's bits per character, each group of cells with
// its text below it; the start and end sentinels are green and labelled SS and ES, the LRC amber,
// a character whose parity fails and an LRC that does not match red with a red frame. Bits that
// belong to no character (noise before the start sentinel, bits after the LRC) are drawn plain,
// and so are characters cut from bit 0 when the read does not begin with a start sentinel.
// A bit the inspector repaired is marked: a wrong or extra bit's cell filled dark red with a white
// digit, the place of a lost bit a red bar between two cells.
// Without a format (Raw Type) the bits are grouped by byte, with each byte's hex below it. The
// groups wrap at the widget's width, never inside a group.
//
// Painting takes a picture made once per card and width, so that scrolling and repainting cost
// no more than copying it.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

class QPainter;
#include <memory>
#include <vector>

#include "carddata/track_inspector.h"

namespace tollwick {

class BitCellsView final : public QWidget {
    Q_OBJECT
  public:
    static constexpr QColor kClockFill{228, 228, 228};
    static constexpr QColor kDataFill{226, 236, 250};
    static constexpr QColor kSentinelFill{204, 236, 204};
    static constexpr QColor kLrcFill{255, 226, 150};
    static constexpr QColor kFailFill{255, 170, 170};
    static constexpr QColor kFailFrame{200, 0, 0};
    static constexpr QColor kLooseFill{250, 250, 250};
    static constexpr QColor kRepairMark{190, 0, 0};

    explicit BitCellsView(QWidget* parent = nullptr);
    ~BitCellsView() override;

    // The track to draw; null draws nothing. The accessible description follows it.
    void SetInspection(std::shared_ptr<const TrackInspection> inspection);
    // Where character `index` of the inspection is drawn (cells and label), empty when it is not.
    QRect CharacterRect(int index) const;
    // The fill of character `index`: what tells its role and whether it failed.
    static QColor CharacterFill(const TrackInspection& inspection, int index);
    // Where the cell of bit `bit` is drawn, empty when it is not.
    QRect BitRect(int bit) const;
    // A short text for assistive technology: the bits, the zeros, the characters, the verdict.
    static QString Summary(const TrackInspection& inspection);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Group {
        enum class Kind { kClock, kCharacter, kLoose, kByte } kind = Kind::kLoose;
        int firstBit = 0;
        int bitCount = 0;
        int character = -1;  // index into the inspection's characters
        QString label;
        QColor fill;
        bool failed = false;
        QRect rect;  // set by the layout
    };

    std::shared_ptr<const TrackInspection> inspection_;
    std::vector<Group> groups_;
    int laidOutWidth_ = -1;
    int height_ = 0;
    QPixmap picture_;

    void BuildGroups();
    int GroupWidth(const Group& group) const;
    // Where the groups go at `width` (into *rects when given); returns the height they take.
    int Layout(int width, std::vector<QRect>* rects) const;
    // Lays the groups out at the widget's width and draws the picture.
    void Place();
    void Render();
    void MarkRepair(QPainter& painter) const;
};

}  // namespace tollwick
