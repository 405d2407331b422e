#include "app/inspector_window.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QScrollArea>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <span>

#include "app/bit_cells_view.h"
#include "carddata/account_mask.h"
#include "carddata/card_fields.h"

namespace tollwick {
namespace {

constexpr int kMostCandidateRows = 6;

QString DataTypeText(DataType type) {
    switch (type) {
        case DataType::kIso:
            return QStringLiteral("ISO");
        case DataType::kUser:
            return QStringLiteral("User Type");
        case DataType::kRaw:
            return QStringLiteral("Raw Type");
        case DataType::kAamva:
            return QStringLiteral("AAMVA");
        case DataType::kCaDmv:
            return QStringLiteral("CA DMV");
    }
    return {};
}

QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString FormatText(const TrackSettings& s) {
    if (s.bpc < 4 || s.bpc > 7) return QStringLiteral("raw bytes");
    const bool checked = s.bpc == 5 || s.bpc == 7;
    return QStringLiteral("%1 bits per character, %2 parity, %3 \u2026 %4")
        .arg(s.bpc)
        .arg(Latin1(checked ? ParityName(s.parity) : "no"))
        .arg(QLatin1Char(s.startSentinel))
        .arg(QLatin1Char(s.endSentinel));
}

// A sentence of the library's with its first letter a capital, for a label.
QString Sentence(const std::string& text) {
    QString out = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    if (!out.isEmpty()) out[0] = out[0].toUpper();
    return out;
}

QTreeWidget* Table(const QStringList& columns, const QString& name) {
    auto* tree = new QTreeWidget;
    tree->setColumnCount(static_cast<int>(columns.size()));
    tree->setHeaderLabels(columns);
    tree->setRootIsDecorated(false);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setAccessibleName(name);
    tree->header()->setStretchLastSection(true);
    // Every column as wide as its widest text; the table asks for the width of its columns.
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // long texts end in "…"
    return tree;
}

// A table as tall as its rows, up to `rows` of them.
void FitRows(QTreeWidget* tree, int rows) {
    const int shown = std::max(1, std::min(rows, tree->topLevelItemCount()));
    const int row =
        tree->sizeHintForRow(0) > 0 ? tree->sizeHintForRow(0) : tree->fontMetrics().height() + 4;
    tree->setFixedHeight(tree->header()->sizeHint().height() + shown * row +
                         2 * tree->frameWidth() + 2);
}

}  // namespace

InspectorWindow::InspectorWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Inspector"));
    setObjectName(QStringLiteral("inspector"));

    auto* layout = new QVBoxLayout(this);
    header_ = new QLabel(this);
    header_->setWordWrap(true);
    layout->addWidget(header_);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter_ = splitter;
    layout->addWidget(splitter, 1);

    auto* scroll = new QScrollArea;
    tracksScroll_ = scroll;
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setAccessibleName(QStringLiteral("Tracks"));
    tracksPane_ = new QWidget;
    tracksPane_->setAccessibleName(QStringLiteral("Tracks 1 to 3"));
    auto* tracksLayout = new QVBoxLayout(tracksPane_);
    for (int t = 0; t < 3; ++t) {
        TrackPane& pane = tracks_[static_cast<std::size_t>(t)];
        pane.box = new QGroupBox(QStringLiteral("Track %1").arg(t + 1));
        auto* box = new QVBoxLayout(pane.box);
        pane.verdict = new QLabel;
        pane.verdict->setWordWrap(true);
        pane.verdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pane.reading = new QLabel;
        pane.reading->setWordWrap(true);
        pane.reading->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pane.zeros = new QLabel;
        pane.bits = new BitCellsView;
        pane.bits->setAccessibleName(QStringLiteral("Track %1 bits").arg(t + 1));
        pane.candidatesLine = new QLabel;
        pane.candidates =
            Table({QStringLiteral("Bits"), QStringLiteral("Parity"), QStringLiteral("Direction"),
                   QStringLiteral("Polarity"), QStringLiteral("Start bit"), QStringLiteral("Text")},
                  QStringLiteral("Track %1 readings that decode").arg(t + 1));
        box->addWidget(pane.verdict);
        box->addWidget(pane.reading);
        box->addWidget(pane.zeros);
        box->addWidget(pane.bits);
        box->addWidget(pane.candidatesLine);
        box->addWidget(pane.candidates);
        tracksLayout->addWidget(pane.box);
    }
    tracksLayout->addStretch(1);
    scroll->setWidget(tracksPane_);
    splitter->addWidget(scroll);

    fieldsPane_ = new QGroupBox(QStringLiteral("Fields"));
    auto* fieldsLayout = new QVBoxLayout(fieldsPane_);
    fieldsFormat_ = new QLabel;
    fieldsFormat_->setWordWrap(true);
    fields_ =
        Table({QStringLiteral("Field"), QStringLiteral("Value"), QStringLiteral("Explanation")},
              QStringLiteral("Card fields"));
    fields_->setRootIsDecorated(true);
    fields_->setWordWrap(true);
    showPan_ = new QCheckBox(QStringLiteral("&Show account numbers"));
    showPan_->setToolTip(QStringLiteral(
        "Account numbers are shown with only their first six and last four digits, here and in "
        "the export, unless this is ticked"));
    fieldsLayout->addWidget(fieldsFormat_);
    fieldsLayout->addWidget(fields_, 1);
    fieldsLayout->addWidget(showPan_);
    splitter->addWidget(fieldsPane_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    connect(showPan_, &QCheckBox::toggled, this, [this] { Refresh(); });

    Refresh();
}

InspectorWindow::~InspectorWindow() = default;

BitCellsView* InspectorWindow::Bits(int track) const {
    return tracks_.at(static_cast<std::size_t>(track - 1)).bits;
}
QTreeWidget* InspectorWindow::Candidates(int track) const {
    return tracks_.at(static_cast<std::size_t>(track - 1)).candidates;
}
QLabel* InspectorWindow::Verdict(int track) const {
    return tracks_.at(static_cast<std::size_t>(track - 1)).verdict;
}
QLabel* InspectorWindow::Reading(int track) const {
    return tracks_.at(static_cast<std::size_t>(track - 1)).reading;
}
std::shared_ptr<const TrackInspection> InspectorWindow::Inspection(int track) const {
    return tracks_.at(static_cast<std::size_t>(track - 1)).inspection;
}
QWidget* InspectorWindow::FieldsPane() const {
    return fieldsPane_;
}

void InspectorWindow::FitToContent(const QRect& available) {
    if (stale_) Refresh();
    // The tables lay their rows out and fit their columns later, when shown: now, so that they
    // ask for the width of what they hold.
    for (QTreeWidget* table : findChildren<QTreeWidget*>()) {
        table->doItemsLayout();
        table->header()->resizeSections(QHeaderView::ResizeToContents);
        table->updateGeometry();
    }
    QLayout* outer = layout();
    outer->activate();
    const QMargins margins = outer->contentsMargins();
    // The tracks scroll up and down only: their pane is as wide as its widest row, with room
    // for the scroll bar.
    const QSize tracks =
        tracksPane_->sizeHint() +
        QSize(style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * tracksScroll_->frameWidth(),
              2 * tracksScroll_->frameWidth());
    const QSize fields = fieldsPane_->sizeHint();
    const int width = margins.left() + tracks.width() + splitter_->handleWidth() + fields.width() +
                      margins.right();
    const int height = margins.top() + header_->heightForWidth(width) + outer->spacing() +
                       std::max(tracks.height(), fields.height()) + margins.bottom();
    // The frame the window system adds is not known before the first show: a little room for it.
    const QSize room = available.size() - QSize(16, 48);
    const QSize size = QSize(width, height).boundedTo(room).expandedTo(minimumSizeHint());
    resize(size);
    // The tracks first: what the window cannot give the Fields pane, it scrolls or elides.
    const int split = size.width() - margins.left() - margins.right() - splitter_->handleWidth();
    const int tracksWidth =
        std::min(tracks.width(), split - fieldsPane_->minimumSizeHint().width());
    splitter_->setSizes({tracksWidth, split - tracksWidth});
}

void InspectorWindow::ShowCard(const CardCapture& capture) {
    capture_ = capture;
    stale_ = true;
    if (isVisible()) Refresh();
}

void InspectorWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) Refresh();
}

void InspectorWindow::Refresh() {
    stale_ = false;
    if (!capture_) {
        header_->setText(QStringLiteral(
            "No card read yet. Every card read shows here: Read, To File, Copy and Compare, and "
            "the read-back of Verify after write."));
    } else {
        const QDateTime when = QDateTime::fromSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::seconds>(capture_->time.time_since_epoch())
                .count());
        QString text =
            QStringLiteral("Card read at %1 with the %2 formats.")
                .arg(when.toString(QStringLiteral("HH:mm:ss")), DataTypeText(capture_->type));
        if (capture_->blockDamaged) {
            text += QStringLiteral(
                " The reader's data block was cut short or garbled: no track came whole.");
        }
        header_->setText(text);
    }
    for (int t = 0; t < 3; ++t) RefreshTrack(t);
    RefreshFields();
}

void InspectorWindow::RefreshTrack(int index) {
    TrackPane& pane = tracks_[static_cast<std::size_t>(index)];
    pane.candidates->clear();
    if (!capture_) {
        pane.inspection.reset();
        pane.box->setTitle(QStringLiteral("Track %1").arg(index + 1));
        pane.verdict->setText(QStringLiteral("No card read yet."));
        pane.reading->clear();
        pane.zeros->setText(QStringLiteral("No bits."));
        pane.bits->SetInspection(nullptr);
        pane.candidatesLine->setText(QStringLiteral("No readings."));
        FitRows(pane.candidates, 1);
        return;
    }
    const auto t = static_cast<std::size_t>(index);
    const std::vector<uint8_t>& raw = capture_->raw[t];
    TrackInspection analysed =
        InspectTrack(std::span<const uint8_t>(raw.data(), raw.size()), capture_->settings[t]);
    if (!showPan_->isChecked()) MaskAccountNumbers(analysed);
    auto inspection = std::make_shared<const TrackInspection>(std::move(analysed));
    pane.inspection = inspection;
    const TrackInspection& in = *inspection;
    pane.box->setTitle(
        QStringLiteral("Track %1: %2").arg(index + 1).arg(FormatText(capture_->settings[t])));

    QString verdict;
    if (in.bits.empty()) {
        verdict = capture_->blockDamaged ? QStringLiteral("Nothing came whole from this track.")
                                         : QStringLiteral("Nothing came from this track: no data.");
    } else {
        verdict = Sentence(VerdictText(in)) + QLatin1Char('.');
    }
    pane.verdict->setText(verdict);
    // The text read, and a repaired reading beside it, never in its place.
    QString reading;
    if (!in.bits.empty() && !in.blank) {
        reading = QStringLiteral("Read: ") +
                  (in.decodes ? Latin1(in.text)
                              : QStringLiteral("fails, %1").arg(Latin1(TrackErrorMarker(index))));
        if (in.repair) {
            reading += QStringLiteral("    Repaired, not read: ") + Latin1(in.repair->text);
        }
    }
    pane.reading->setText(reading);
    pane.reading->setVisible(!reading.isEmpty());
    pane.zeros->setText(
        in.bits.empty()
            ? QStringLiteral("No bits.")
            : QStringLiteral("%1 bits as read: %2 clocking zeros before the data, %3 after it.")
                  .arg(in.bits.size())
                  .arg(in.leadingZeroBits)
                  .arg(in.trailingZeroBits));
    pane.bits->SetInspection(inspection);

    for (const TrackCandidate& c : in.candidates) {
        QString bits = QString::number(c.format.bpc);
        if (c.configured) bits += QStringLiteral(", in force");
        const bool reversed = c.direction == SwipeDirection::kReversed;
        auto* row = new QTreeWidgetItem(
            {bits, Latin1(ParityName(c.format.parity)), Latin1(DirectionName(c.direction)),
             c.polarity == BitPolarity::kInverted ? QStringLiteral("inverted")
                                                  : QStringLiteral("as read"),
             QString::number(c.startBit), Latin1(c.text)});
        if (reversed)
            row->setToolTip(2, QStringLiteral("the bits read backwards: the card went "
                                              "through the other way round"));
        if (c.polarity == BitPolarity::kInverted) {
            row->setToolTip(3, QStringLiteral("ones and zeros swapped: ones are the idle level"));
        }
        row->setToolTip(5, Latin1(c.text));
        pane.candidates->addTopLevelItem(row);
    }
    pane.candidatesLine->setText(
        in.candidates.empty()
            ? QStringLiteral("No bits per character, parity, direction or polarity decodes it.")
            : QStringLiteral("Readings that decode, best first:"));
    for (int c = 0; c < pane.candidates->columnCount() - 1; ++c) {
        pane.candidates->resizeColumnToContents(c);
    }
    FitRows(pane.candidates, kMostCandidateRows);
    pane.candidates->setVisible(!in.candidates.empty());
}

void InspectorWindow::RefreshFields() {
    fields_->clear();
    if (!capture_) {
        fieldsFormat_->setText(QStringLiteral("No card read yet."));
        return;
    }
    const CardTracks& card = capture_->card;
    const std::optional<CardFields> parsed = ParseCardFields(
        {std::string(card.Text(0)), std::string(card.Text(1)), std::string(card.Text(2))},
        showPan_->isChecked());
    if (!parsed) {
        fieldsFormat_->setText(QStringLiteral("No known format"));
        return;
    }
    fieldsFormat_->setText(QString::fromStdString(parsed->description));
    // Tracks 1 to 3, then the card's checks, in the order the fields come.
    std::array<QTreeWidgetItem*, 4> groups{};
    for (const Field& field : parsed->fields) {
        QTreeWidgetItem*& group = groups.at(static_cast<std::size_t>(field.track));
        if (group == nullptr) {
            group = new QTreeWidgetItem({field.track == 0
                                             ? QStringLiteral("Card")
                                             : QStringLiteral("Track %1").arg(field.track)});
            fields_->addTopLevelItem(group);
        }
        QString value = QString::fromStdString(field.value);
        if (field.kind == FieldKind::kFlag) {
            value = field.value == "true" ? QStringLiteral("yes") : QStringLiteral("no");
        }
        auto* row = new QTreeWidgetItem({QString::fromStdString(field.label), value,
                                         QString::fromStdString(field.explanation)});
        row->setToolTip(2, row->text(2));
        group->addChild(row);
    }
    fields_->expandAll();
    fields_->resizeColumnToContents(0);
    fields_->resizeColumnToContents(1);
}

}  // namespace tollwick
