#include "app/bit_cells_view.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace tollwick {
namespace {

constexpr int kCell = 10;        // width of one bit's cell
constexpr int kCellHeight = 16;  // height of the cells
constexpr int kPad = 2;          // fill around the cells of a group
constexpr int kLabel = 14;       // the line below the cells
constexpr int kGap = 4;          // between groups
constexpr int kRowGap = 6;       // between rows
constexpr int kMargin = 2;
constexpr int kRowHeight = kCellHeight + 2 * kPad + kLabel + kRowGap;
constexpr int kFontPixels = 11;

const QColor kOneText{0, 0, 0};
const QColor kZeroText{125, 125, 125};
const QColor kCellLine{0, 0, 0, 40};
const QColor kLabelText{60, 60, 60};

QFont SmallFont(const QFont& base, bool bold = false) {
    QFont font = base;
    font.setPixelSize(kFontPixels);
    font.setBold(bold);
    return font;
}

}  // namespace

BitCellsView::BitCellsView(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

BitCellsView::~BitCellsView() = default;

QColor BitCellsView::CharacterFill(const TrackInspection& inspection, int index) {
    const InspectedCharacter& c = inspection.characters.at(static_cast<std::size_t>(index));
    // Cut from the first one bit for want of a start sentinel: not characters of the track,
    // so their parity tells nothing.
    if (c.role == CharacterRole::kUnframed) return kLooseFill;
    // The running LRC of the LRC character itself is zero when it matches the data.
    const bool lrcFails = c.role == CharacterRole::kLrc && c.lrc != 0;
    if (c.parity == ParityVerdict::kBad || lrcFails) return kFailFill;
    switch (c.role) {
        case CharacterRole::kStartSentinel:
        case CharacterRole::kEndSentinel:
            return kSentinelFill;
        case CharacterRole::kLrc:
            return kLrcFill;
        case CharacterRole::kUnframed:
        case CharacterRole::kData:
            break;
    }
    return kDataFill;
}

QString BitCellsView::Summary(const TrackInspection& in) {
    if (in.bits.empty()) return QStringLiteral("No bits: nothing came from this track");
    QString text = QStringLiteral("%1 bits, %2 leading and %3 trailing clocking zeros")
                       .arg(in.bits.size())
                       .arg(in.leadingZeroBits)
                       .arg(in.trailingZeroBits);
    if (in.blank) return text + QStringLiteral("; blank");
    if (!in.formatKnown) return text + QStringLiteral("; raw bytes, not cut into characters");
    if (in.startBit >= 0) {
        text += QStringLiteral("; %1 characters from the start sentinel at bit %2")
                    .arg(in.characters.size())
                    .arg(in.startBit);
    } else {
        text += QStringLiteral("; %1 characters cut from bit 0").arg(in.characters.size());
    }
    return text + QStringLiteral("; ") + QString::fromStdString(VerdictText(in));
}

void BitCellsView::SetInspection(std::shared_ptr<const TrackInspection> inspection) {
    inspection_ = std::move(inspection);
    setAccessibleDescription(inspection_ ? Summary(*inspection_) : QString());
    BuildGroups();
    Place();
    update();
}

void BitCellsView::BuildGroups() {
    groups_.clear();
    if (!inspection_) return;
    const TrackInspection& in = *inspection_;
    const int n = static_cast<int>(in.bits.size());
    if (n == 0) return;
    const auto add = [this](Group::Kind kind, int first, int count, QString label = {},
                            QColor fill = kLooseFill, int character = -1, bool failed = false) {
        if (count <= 0) return;
        Group g;
        g.kind = kind;
        g.firstBit = first;
        g.bitCount = count;
        g.label = std::move(label);
        g.fill = fill;
        g.character = character;
        g.failed = failed;
        groups_.push_back(std::move(g));
    };
    const auto zeros = [](int count) {
        return count == 1 ? QStringLiteral("1 zero") : QStringLiteral("%1 zeros").arg(count);
    };
    const auto clock = [&](int first, int count) {
        add(Group::Kind::kClock, first, count, zeros(count), kClockFill);
    };
    if (in.blank) {
        clock(0, n);
        return;
    }
    const int trailingFrom = n - in.trailingZeroBits;

    if (!in.formatKnown || in.characters.empty()) {
        // Bytes: the zero bytes at either end are clocking, the rest byte by byte.
        const int firstByte = in.leadingZeroBits / 8 * 8;
        const int endByte = std::min(n, (trailingFrom + 7) / 8 * 8);
        clock(0, firstByte);
        for (int at = firstByte; at < endByte; at += 8) {
            const int count = std::min(8, endByte - at);
            int value = 0;
            for (int b = 0; b < 8; ++b) {
                const char bit = at + b < n ? in.bits[static_cast<std::size_t>(at + b)] : '0';
                value = (value << 1) | (bit == '1' ? 1 : 0);
            }
            add(Group::Kind::kByte, at, count,
                QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper(), kDataFill);
        }
        clock(endByte, n - endByte);
        return;
    }

    const int first = in.characters.front().bitOffset;
    const int leading = std::min(in.leadingZeroBits, first);
    clock(0, leading);
    add(Group::Kind::kLoose, leading, first - leading);  // ones before the start sentinel
    int end = first;
    for (std::size_t k = 0; k < in.characters.size(); ++k) {
        const InspectedCharacter& c = in.characters[k];
        const int index = static_cast<int>(k);
        QString label = QString(QLatin1Char(c.text));
        if (c.role == CharacterRole::kStartSentinel) label += QStringLiteral(" SS");
        if (c.role == CharacterRole::kEndSentinel) label += QStringLiteral(" ES");
        if (c.role == CharacterRole::kLrc) label = QStringLiteral("LRC");
        const QColor fill = CharacterFill(in, index);
        const int count = std::min(c.bitCount, n - c.bitOffset);
        add(Group::Kind::kCharacter, c.bitOffset, count, label, fill, index, fill == kFailFill);
        end = c.bitOffset + count;
    }
    const int clockFrom = std::max(end, trailingFrom);
    add(Group::Kind::kLoose, end, clockFrom - end);  // bits after the LRC
    clock(clockFrom, n - clockFrom);
}

int BitCellsView::GroupWidth(const Group& group) const {
    const QFontMetrics metrics(SmallFont(font()));
    const int labelWidth = metrics.horizontalAdvance(group.label) + 2 * kPad;
    if (group.kind == Group::Kind::kClock) return labelWidth + 4 * kPad;
    return std::max(group.bitCount * kCell + 2 * kPad, labelWidth);
}

int BitCellsView::Layout(int width, std::vector<QRect>* rects) const {
    if (groups_.empty()) return 0;
    const int usable = std::max(width - 2 * kMargin, kCell * 8);
    int x = 0;
    int y = kMargin;
    for (const Group& group : groups_) {
        const int w = GroupWidth(group);
        if (x > 0 && x + w > usable) {
            x = 0;
            y += kRowHeight;
        }
        if (rects != nullptr)
            rects->emplace_back(kMargin + x, y, w, kCellHeight + 2 * kPad + kLabel);
        x += w + kGap;
    }
    return y + kRowHeight - kRowGap + kMargin;
}

void BitCellsView::Place() {
    std::vector<QRect> rects;
    const int before = height_;
    height_ = Layout(width(), &rects);
    for (std::size_t i = 0; i < groups_.size(); ++i) groups_[i].rect = rects[i];
    laidOutWidth_ = width();
    Render();
    if (height_ != before) updateGeometry();
}

void BitCellsView::Render() {
    const qreal ratio = devicePixelRatioF();
    const QSize size(std::max(width(), 1), std::max(height_, 1));
    picture_ = QPixmap(size * ratio);
    picture_.setDevicePixelRatio(ratio);
    picture_.fill(Qt::transparent);
    if (!inspection_ || groups_.empty()) return;
    const std::string& bits = inspection_->bits;

    QPainter painter(&picture_);
    const QFont digits = SmallFont(font());
    const QFont ones = SmallFont(font(), true);
    for (const Group& group : groups_) {
        const QRect cells(group.rect.left(), group.rect.top(), group.rect.width(),
                          kCellHeight + 2 * kPad);
        painter.fillRect(cells, group.fill);
        if (group.failed) {
            painter.setPen(QPen(kFailFrame, 2));
            painter.drawRect(cells.adjusted(1, 1, -1, -1));
        }
        const QRect labelRect(group.rect.left(), cells.bottom() + 1, group.rect.width(), kLabel);
        painter.setFont(digits);
        if (group.kind == Group::Kind::kClock) {
            painter.setPen(kZeroText);
            painter.drawText(cells, Qt::AlignCenter, group.label);
            continue;
        }
        for (int b = 0; b < group.bitCount; ++b) {
            const QRect cell(cells.left() + kPad + b * kCell, cells.top() + kPad, kCell,
                             kCellHeight);
            if (b > 0) {
                painter.setPen(kCellLine);
                painter.drawLine(cell.topLeft(), cell.bottomLeft());
            }
            const bool one = bits[static_cast<std::size_t>(group.firstBit + b)] == '1';
            painter.setFont(one ? ones : digits);
            painter.setPen(one ? kOneText : kZeroText);
            painter.drawText(cell, Qt::AlignCenter,
                             one ? QStringLiteral("1") : QStringLiteral("0"));
        }
        painter.setFont(digits);
        painter.setPen(group.failed ? kFailFrame : kLabelText);
        painter.drawText(labelRect, Qt::AlignHCenter | Qt::AlignTop, group.label);
    }
    MarkRepair(painter);
}

void BitCellsView::MarkRepair(QPainter& painter) const {
    if (!inspection_ || !inspection_->repair) return;
    const BitRepair& repair = *inspection_->repair;
    const std::string& bits = inspection_->bits;
    if (repair.kind == RepairKind::kLost) {
        // A bar where the missing bit belongs, before the cell of bit `bit`.
        const QRect cell = BitRect(repair.bit);
        if (cell.isEmpty()) return;
        painter.fillRect(QRect(cell.left() - 2, cell.top() - kPad, 4, cell.height() + 2 * kPad),
                         kRepairMark);
        return;
    }
    const QRect cell = BitRect(repair.bit);
    if (cell.isEmpty()) return;
    painter.fillRect(cell, kRepairMark);
    painter.setFont(SmallFont(font(), true));
    painter.setPen(Qt::white);
    const bool one = bits[static_cast<std::size_t>(repair.bit)] == '1';
    painter.drawText(cell, Qt::AlignCenter, one ? QStringLiteral("1") : QStringLiteral("0"));
}

QRect BitCellsView::BitRect(int bit) const {
    for (const Group& group : groups_) {
        if (group.kind == Group::Kind::kClock) continue;
        if (bit < group.firstBit || bit >= group.firstBit + group.bitCount) continue;
        return QRect(group.rect.left() + kPad + (bit - group.firstBit) * kCell,
                     group.rect.top() + kPad, kCell, kCellHeight);
    }
    return {};
}

QRect BitCellsView::CharacterRect(int index) const {
    for (const Group& group : groups_) {
        if (group.kind == Group::Kind::kCharacter && group.character == index) return group.rect;
    }
    return {};
}

int BitCellsView::heightForWidth(int width) const {
    return Layout(width, nullptr);
}

QSize BitCellsView::sizeHint() const {
    constexpr int kWidth = 640;
    return {kWidth, heightForWidth(kWidth)};
}

QSize BitCellsView::minimumSizeHint() const {
    return {kCell * 8 + 2 * kMargin, 0};
}

void BitCellsView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (width() != laidOutWidth_) Place();
}

void BitCellsView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    const qreal ratio = picture_.devicePixelRatio();
    painter.drawPixmap(area, picture_,
                       QRectF(area.topLeft() * ratio, area.size() * ratio).toRect());
}

}  // namespace tollwick
