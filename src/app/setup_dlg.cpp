#include "app/setup_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "app/combo_fit.h"
#include "app/dialog_layout.h"
#include "app/message_box_seam.h"
#include "app/tollwick_dlg.h"
#include "app/track_edit.h"
#include "carddata/data_type.h"
#include "device/reader_commands.h"
#include "jobs/format_state.h"
#include "jobs/setup_connection.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

using namespace setupid;

// Set on a combo whose edit field the operator typed into: it then has no selected position.
constexpr char kTypedProperty[] = "typedIntoEdit";

constexpr int kTrack2Limit75 = 37;
constexpr int kTrack2Limit210 = 104;

// The controls of the main window that need a reader: coercivity and data type.
constexpr std::array<int, 7> kReaderControls{mainid::kHiCo,     mainid::kLoCo,    mainid::kIso,
                                             mainid::kUserType, mainid::kRawType, mainid::kAamva,
                                             mainid::kCaDmv};

QStringList CharactersOf(std::string_view list) {
    QStringList items;
    for (const char ch : list) items << QString(QLatin1Char(ch));
    return items;
}

const QStringList& BpcItems() {
    static const QStringList items{QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                                   QStringLiteral("7")};
    return items;
}

const QStringList& ParityItems() {
    static const QStringList items{QStringLiteral("ODD"), QStringLiteral("EVEN")};
    return items;
}

// Replaces the list and selects `position`; a position outside the list selects nothing.
void SetList(QComboBox* combo, const QStringList& items, int position) {
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(position >= 0 && position < items.size() ? position : -1);
    combo->setProperty(kTypedProperty, false);
    FitTextToCombo(combo);
}

void SetSingle(QComboBox* combo, const QString& item) {
    SetList(combo, {item}, 0);
}

QComboBox* MakeCombo() {
    auto* combo = new QComboBox;
    combo->setEditable(true);
    UseNarrowArrow(combo);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->setMaxVisibleItems(32);
    QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo,
                     [combo] { combo->setProperty(kTypedProperty, true); });
    QObject::connect(combo, &QComboBox::activated, combo,
                     [combo] { combo->setProperty(kTypedProperty, false); });
    return combo;
}

int StoredPosition(const std::string& text) {
    return StoredTextToInt(text);
}

void SetTrackLabel(CTollwickDlg& window, int id, const QString& label) {
    if (auto* box = window.ControlAs<QCheckBox>(id)) {
        box->setText(label);
        box->setAccessibleName(label);
        WidenToText(box);
    }
}

}  // namespace

CSetupDlg::CSetupDlg() : AuxDialog(kResourceId, QStringLiteral("Setup"), 317, 128, true) {
    BuildControls();
    UpdateData(false);
}

CSetupDlg::~CSetupDlg() = default;

void CSetupDlg::BuildControls() {
    DialogLayout& l = Layout();
    QPushButton* ok = l.PushButton(kOk, QStringLiteral("OK"), 23, 72, 50, 14);
    ok->setDefault(true);
    QPushButton* cancel = l.PushButton(kCancel, QStringLiteral("Cancel"), 23, 94, 50, 14);
    QGroupBox* portFrame =
        l.GroupBox(kNoId, QStringLiteral("COM Port"), 20, 14, 57, 49, QStringLiteral("COM Port"));
    port_ = l.Place(kPort, new QLineEdit, 27, 33, 40, 14, QStringLiteral("COM Port"));
    port_->setMaxLength(kPortTextLimit);
    l.Nest(portFrame, {port_});

    // One frame per track row; the row's density radios, combos and their labels go inside it.
    std::array<QGroupBox*, 3> rows{};
    std::array<std::array<QRadioButton*, 2>, 3> radios{};
    rows[0] = l.GroupBox(kNoId, QStringLiteral("Trace1 BPI"), 82, 10, 223, 33,
                         QStringLiteral("Trace1 BPI"));
    radios[0] = {l.Radio(kTrack1Density75, QStringLiteral("75"), 88, 20, 24, 10, true),
                 l.Radio(kTrack1Density210, QStringLiteral("210"), 88, 31, 28, 10, false)};
    rows[1] = l.GroupBox(kNoId, QStringLiteral("Track2 BPI"), 83, 48, 223, 31,
                         QStringLiteral("Track2 BPI"));
    radios[1] = {l.Radio(kTrack2Density75, QStringLiteral("75"), 89, 58, 24, 10, true),
                 l.Radio(kTrack2Density210, QStringLiteral("210"), 89, 68, 28, 10, false)};
    track2Group_ = l.RadioGroup(1);
    rows[2] = l.GroupBox(kNoId, QStringLiteral("Trace3 BPI"), 82, 81, 225, 36,
                         QStringLiteral("Trace3 BPI"));
    radios[2] = {l.Radio(kTrack3Density75, QStringLiteral("75"), 89, 93, 24, 10, true),
                 l.Radio(kTrack3Density210, QStringLiteral("210"), 89, 104, 28, 10, false)};
    for (std::size_t t : {std::size_t{0}, std::size_t{2}}) {
        for (QRadioButton* radio : radios[t]) radio->setEnabled(false);
    }

    // x y w h per combo; the height includes the drop-down list.
    const std::array<std::array<std::array<int, 4>, 4>, 3> rects{{
        {{{142, 22, 18, 53}, {192, 22, 28, 30}, {238, 22, 18, 49}, {278, 22, 18, 39}}},
        {{{141, 58, 18, 49}, {191, 58, 29, 30}, {238, 58, 18, 48}, {279, 58, 18, 44}}},
        {{{142, 94, 18, 47}, {191, 94, 29, 30}, {238, 94, 18, 41}, {279, 94, 18, 41}}},
    }};
    const std::array<const char*, 4> fieldNames{"BPC", "Parity", "SS", "ES"};
    for (std::size_t t = 0; t < 3; ++t) {
        for (std::size_t f = 0; f < 4; ++f) {
            const auto& r = rects[t][f];
            QComboBox* combo = l.Place(kTrackCombos[t][f], MakeCombo(), r[0], r[1], r[2], r[3],
                                       QStringLiteral("Track%1 %2").arg(t + 1).arg(fieldNames[f]));
            // The closed combo is as high as its edit field; the rest was room for the list.
            combo->resize(combo->width(), combo->sizeHint().height());
            combos_[t][f] = combo;
        }
    }
    // The resource's entries of the two BPC lists; every show replaces them.
    for (std::size_t t : {std::size_t{1}, std::size_t{2}})
        SetList(combos_[t][kBpc], BpcItems(), -1);

    const std::array<int, 4> labelX{121, 168, 222, 262};
    const std::array<int, 4> labelW{20, 23, 15, 15};
    const std::array<const char*, 4> labels{"BPC:", "Parity:", "SS:", "ES:"};
    const std::array<int, 3> rowY{24, 60, 96};
    for (std::size_t t = 0; t < 3; ++t) {
        std::array<QLabel*, 4> rowLabels{};
        for (std::size_t f = 0; f < 4; ++f) {
            // On Linux a combo box is announced by the label tied to it: "Track1 BPC".
            rowLabels[f] =
                l.Static(kNoId, QString::fromLatin1(labels[f]), labelX[f], rowY[t], labelW[f], 8,
                         QStringLiteral("Track%1 %2").arg(t + 1).arg(fieldNames[f]));
            rowLabels[f]->setBuddy(combos_[t][f]);
        }
        l.Nest(rows[t], {radios[t][0], radios[t][1], rowLabels[0], combos_[t][0], rowLabels[1],
                         combos_[t][1], rowLabels[2], combos_[t][2], rowLabels[3], combos_[t][3]});
    }
    l.FinishTabOrder();

    // The edit turns typed letters into capitals.
    connect(port_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const int caret = port_->cursorPosition();
        port_->setText(text.toUpper());
        port_->setCursorPosition(caret);
    });
    // A density radio takes effect at once; OK sends it to the reader.
    connect(qobject_cast<QAbstractButton*>(Control(kTrack2Density75)), &QAbstractButton::clicked,
            this, [this] {
                if (window_ != nullptr) window_->Format().SetDensity(Track2Density::k75);
            });
    connect(qobject_cast<QAbstractButton*>(Control(kTrack2Density210)), &QAbstractButton::clicked,
            this, [this] {
                if (window_ != nullptr) window_->Format().SetDensity(Track2Density::k210);
            });
    for (int t = 0; t < 3; ++t) {
        connect(combos_[static_cast<std::size_t>(t)][kBpc], &QComboBox::activated, this,
                [this, t] { OnBpcChosen(t); });
    }
    connect(ok, &QPushButton::clicked, this, &CSetupDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CSetupDlg::reject);
}

void CSetupDlg::Bind(CTollwickDlg& window, ReaderCommands& reader) {
    window_ = &window;
    reader_ = &reader;
}

QComboBox* CSetupDlg::Combo(int track, Field field) const {
    return combos_.at(static_cast<std::size_t>(track)).at(static_cast<std::size_t>(field));
}

int CSetupDlg::Position(int track, Field field) const {
    const QComboBox* combo = Combo(track, field);
    return combo->property(kTypedProperty).toBool() ? -1 : combo->currentIndex();
}

void CSetupDlg::UpdateData(bool fromControls) {
    if (fromControls) {
        portText_ = port_->text();
        track2Index_ = track2Group_->checkedId();
        return;
    }
    if (port_->text() != portText_) port_->setText(portText_);
    if (QAbstractButton* radio = track2Group_->button(track2Index_)) radio->setChecked(true);
}

void CSetupDlg::Open() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        QRect area = frameGeometry();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    // While it is up nothing else of the program takes input, so that no job can start on the
    // reader link while OK reconnects it.
    setWindowModality(Qt::ApplicationModal);
    show();
    setEnabled(true);
    if (window_ != nullptr) {
        window_->EnableWindow(false);
        window_->update();
    }
}

void CSetupDlg::showEvent(QShowEvent* event) {
    AuxDialog::showEvent(event);
    Fill();
}

void CSetupDlg::hideEvent(QHideEvent* event) {
    AuxDialog::hideEvent(event);
    Fill();
}

void CSetupDlg::Fill() {
    if (window_ == nullptr) return;
    const TrackFormat format = window_->Format().Get();
    UpdateData(true);
    track2Index_ = format.density == Track2Density::k75 ? 0 : 1;
    UpdateData(false);

    const auto fixed = [this](const std::array<std::array<QString, 4>, 3>& entries) {
        for (std::size_t t = 0; t < 3; ++t) {
            for (std::size_t f = 0; f < 4; ++f) {
                SetSingle(combos_[t][f], entries[t][f]);
                combos_[t][f]->setEnabled(false);
            }
        }
    };
    switch (format.type) {
        case DataType::kIso:
            fixed({{{"7", "ODD", "%", "?"}, {"5", "ODD", ";", "?"}, {"5", "ODD", ";", "?"}}});
            break;
        case DataType::kUser:
            for (auto& row : combos_) {
                for (QComboBox* combo : row) combo->setEnabled(true);
            }
            for (int t = 0; t < 3; ++t) FillUserTrack(t);
            break;
        case DataType::kRaw:
        case DataType::kAamva:
        case DataType::kCaDmv:
            fixed({{{"8", "NONE", "NONE", "NONE"},
                    {"8", "NONE", "NONE", "NONE"},
                    {"8", "NONE", "NONE", "NONE"}}});
            break;
    }
}

void CSetupDlg::FillUserTrack(int track) {
    const auto t = static_cast<std::size_t>(track);
    QComboBox* bpc = combos_[t][kBpc];
    QComboBox* parity = combos_[t][kParity];
    QComboBox* start = combos_[t][kStartSentinel];
    QComboBox* end = combos_[t][kEndSentinel];
    const StoredTrackKeys keys = ReadUserKeys(window_->Profile())[t];

    SetList(bpc, BpcItems(), StoredPosition(keys.bpc));
    SetList(parity, ParityItems(), -1);
    const bool narrow = keys.bpc == "0" || keys.bpc == "1";
    const bool noParity = keys.bpc == "0" || keys.bpc == "2";
    const int bits = narrow ? 5 : 7;
    int startPosition = StoredPosition(keys.startSentinel);
    int endPosition = StoredPosition(keys.endSentinel);
    // Track 1 at 7 bits without a stored sentinel starts at '%' and ends at ';'.
    if (track == 0 && !narrow && keys.bpc != "2") {
        if (keys.startSentinel.empty()) startPosition = 2;
        if (keys.endSentinel.empty()) endPosition = 26;
    }
    SetList(start, CharactersOf(StartSentinelList(bits)), startPosition);
    SetList(end, CharactersOf(EndSentinelList(bits)), endPosition);
    if (noParity) {
        SetSingle(parity, QStringLiteral("NONE"));
        parity->setEnabled(false);
    } else {
        parity->setCurrentIndex(keys.parity == "0" ? 0 : 1);
    }
}

void CSetupDlg::OnBpcChosen(int track) {
    const auto t = static_cast<std::size_t>(track);
    const int chosen = combos_[t][kBpc]->currentIndex();
    QComboBox* parity = combos_[t][kParity];
    const bool narrow = chosen == 0 || chosen == 1;
    if (chosen == 0 || chosen == 2) {
        SetSingle(parity, QStringLiteral("NONE"));
        parity->setEnabled(false);
    } else {
        parity->setEnabled(true);
        SetList(parity, ParityItems(), 0);
    }
    const int bits = narrow ? 5 : 7;
    // 4 and 5 bits: ';' and '?'; 6 bits: '%' and '/'; 7 bits: '%' and ';'.
    const int startPosition = narrow ? 5 : 2;
    const int endPosition = narrow ? 15 : (chosen == 2 ? 14 : 26);
    SetList(combos_[t][kStartSentinel], CharactersOf(StartSentinelList(bits)), startPosition);
    SetList(combos_[t][kEndSentinel], CharactersOf(EndSentinelList(bits)), endPosition);
}

void CSetupDlg::accept() {
    if (window_ == nullptr || reader_ == nullptr) return;
    CTollwickDlg& window = *window_;
    UpdateData(true);
    const SetupPort typed = ParseSetupPort(portText_.toStdString());
    if (typed.check == SetupPortCheck::kNotCom) {
        window.MessageBoxes().Inform(this, QStringLiteral("COM PORT Invalidate!!"));
        return;
    }
    if (typed.check == SetupPortCheck::kAboveMax) {
        window.MessageBoxes().Inform(this, QStringLiteral("MAX PORT Number is 200!!"));
        return;
    }

    setEnabled(false);
    const SetupConnection connection = ConnectForSetup(*reader_, window.Profile(), typed.port);
    window.EnableJobButtons(connection.connected);
    window.SetMessage(connection.port > 0 ? QStringLiteral("K47 Ready")
                                          : QStringLiteral("Not Connect K47"));
    // A reader found now, after the start-up found none, must be usable: its coercivity and data
    // type buttons come back with the job buttons. Nothing else of the window changes.
    if (connection.connected && reader_->IsConnected()) EnableReaderControls();
    setEnabled(true);
    UpdateData(false);

    const Track2Density density = window.Format().Density();
    auto* track2 = window.ControlAs<TrackEdit>(mainid::kTrack2);
    if (density == Track2Density::k75) {
        reader_->SetTrack2Density(false);
        track2->SetLimit(kTrack2Limit75);
        SetTrackLabel(window, mainid::kTrack2Check,
                      QStringLiteral("Track2 75 BPI 5 BPC Odd Parity"));
        StoreDensity(window.Profile(), Track2Density::k75);
    } else {
        track2->SetLimit(kTrack2Limit210);
        SetTrackLabel(window, mainid::kTrack2Check,
                      QStringLiteral("Track2 210 BPI 5 BPC Odd Parity"));
        StoreDensity(window.Profile(), Track2Density::k210);
        reader_->SetTrack2Density(true);
    }

    const bool userType = window.Format().Type() == DataType::kUser;
    if (userType) StoreUserKeys();
    update();
    window.EnableWindow(true);
    if (userType) window.ApplyUserType();
    UpdateData(true);
    QDialog::accept();
}

void CSetupDlg::reject() {
    if (window_ != nullptr) window_->EnableWindow(true);
    QDialog::reject();
}

void CSetupDlg::EnableReaderControls() {
    for (int id : kReaderControls) window_->EnableControl(id, true);
}

void CSetupDlg::StoreUserKeys() {
    std::array<std::array<int, 4>, 3> positions{};
    for (int t = 0; t < 3; ++t) {
        const StoredTrackKeys defaults = DefaultStoredTrackKeys(t);
        const std::array<const std::string*, 4> fallback{
            &defaults.bpc, &defaults.parity, &defaults.startSentinel, &defaults.endSentinel};
        for (int f = 0; f < 4; ++f) {
            const int position = Position(t, static_cast<Field>(f));
            // A combo without a selection keeps its key's default rather than "-1".
            positions[static_cast<std::size_t>(t)][static_cast<std::size_t>(f)] =
                position >= 0 ? position : StoredTextToInt(*fallback[static_cast<std::size_t>(f)]);
        }
    }
    WriteUserKeys(window_->Profile(), positions);
}

}  // namespace tollwick
