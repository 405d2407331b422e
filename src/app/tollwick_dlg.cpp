#include "app/tollwick_dlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>
#include <string>

#include "app/about_dlg.h"
#include "app/accessibility.h"
#include "app/app_icon.h"
#include "app/aux_dialogs.h"
#include "app/dialog_layout.h"
#include "app/erase_select_dlg.h"
#include "app/legibility.h"
#include "app/message_box_seam.h"
#include "app/password_dlg.h"
#include "app/reader_control.h"
#include "app/seq_write_dlg.h"
#include "app/setup_dlg.h"
#include "app/swipe_dlg.h"
#include "app/track_edit.h"
#include "carddata/text_filter.h"
#include "jobs/format_state.h"
#include "settings/stored_settings.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tollwick {
namespace {

using namespace mainid;

CTollwickDlg* g_mainWindow = nullptr;

constexpr std::array<int, 3> kTrackEditIds{kTrack1, kTrack2, kTrack3};
constexpr std::array<int, 3> kTrackCheckIds{kTrack1Check, kTrack2Check, kTrack3Check};
constexpr std::array<int, 3> kCounterIds{kTrack1Count, kTrack2Count, kTrack3Count};
// EnableJobButtons goes through them in this order; Setup only when enabling.
constexpr std::array<int, 9> kJobButtonIds{kSetup, kRead,    kWrite,    kErase, kSeqWrite,
                                           kCopy,  kCompare, kFromFile, kToFile};

// The track boxes hold the reader's 8-bit text; a character beyond Latin-1 becomes a byte that
// no track accepts.
std::string TrackBytes(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        bytes.push_back(u <= 0xFF ? static_cast<char>(u) : static_cast<char>(0x80));
    }
    return bytes;
}

QString TrackQString(std::string_view bytes) {
    if (bytes.size() >= kTrackBufferSize) bytes = bytes.substr(0, kTrackBufferSize - 1);
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void SetGroupChoice(QButtonGroup* group, int choice) {
    if (QAbstractButton* button = group->button(choice)) {
        if (!button->isChecked()) button->setChecked(true);
        return;
    }
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}

}  // namespace

QString CTollwickDlg::AboutEntryText() {
    return QStringLiteral("关于 Tollwick(&A)...");
}

QString CTollwickDlg::TrackLeftOutText(int track) {
    return QStringLiteral(
               "Ticked: Track%1 is left out. Its box is emptied and takes no input, so Write "
               "and the other writing jobs leave the track empty.")
        .arg(track);
}

QString CTollwickDlg::StartupMessage() {
    return QStringLiteral("Connect to Device ,Please wait...");
}

CTollwickDlg::CTollwickDlg(const MainWindowServices& services, QWidget* parent)
    : QDialog(parent), services_(services) {
    InstallAccessibleClicks();
    setObjectName(QStringLiteral("dialog_%1").arg(kResourceId));
    setWindowTitle(QStringLiteral("VK3300S"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    BuildControls();
    ConnectHandlers();
    UpdateData(false);  // ISO and Hi-Co selected, boxes empty

    AddAboutToSystemMenu();
    setWindowIcon(AppIcon());
    g_mainWindow = this;

    const QFont trackFont = TrackFont();
    message_->setFont(trackFont);
    for (TrackEdit* edit : trackEdits_) edit->setFont(trackFont);

    SetMessage(StartupMessage());

    // ISO formats at every start; track 2 follows the stored density.
    const Track2Density density = StoredDensity(services_.profile);
    services_.format.Set(TrackFormat{kIsoTrackSet, DataType::kIso, density});
    ApplyLayoutOf(DataType::kIso);

    CreateAuxiliaryWindows();
    CentreOnScreen();

    // Enabled again once the reader connection has been tried; the beeper buttons only when the
    // reader's firmware knows the beeper commands.
    EnableWindow(false);
    EnableControl(kBeepOn, false);
    EnableControl(kBeepOff, false);
}

CTollwickDlg::~CTollwickDlg() {
    if (g_mainWindow == this) g_mainWindow = nullptr;
}

CTollwickDlg* CTollwickDlg::MainWindow() {
    return g_mainWindow;
}

void CTollwickDlg::BuildControls() {
    layout_ = std::make_unique<DialogLayout>(this, TemplateFont(), 360, 370);
    DialogLayout& l = *layout_;

    QPushButton* exitButton = l.PushButton(kExit, QStringLiteral("EXIT"), 237, 323, 104, 21);
    exitButton->setDefault(true);
    l.PushButton(kSetup, QStringLiteral("Setup"), 236, 300, 49, 21);
    l.PushButton(kRead, QStringLiteral("Read"), 236, 197, 50, 25);
    l.PushButton(kWrite, QStringLiteral("Write"), 236, 224, 50, 23);
    QGroupBox* coercivityFrame =
        l.GroupBox(kNoId, QString(), 232, 48, 112, 22, QStringLiteral("Coercivity"));
    l.Nest(coercivityFrame, {l.Radio(kHiCo, QStringLiteral("&Hi-Co"), 241, 56, 36, 10, true),
                             l.Radio(kLoCo, QStringLiteral("&Lo-Co"), 291, 57, 36, 10, false)});
    coercivityGroup_ = l.RadioGroup(0);

    const std::array<std::array<int, 4>, 3> editRects{
        {{10, 53, 206, 68}, {10, 153, 207, 70}, {11, 255, 207, 71}}};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& r = editRects[i];
        trackEdits_[i] = l.Place(kTrackEditIds[i], new TrackEdit, r[0], r[1], r[2], r[3],
                                 QStringLiteral("Track%1").arg(i + 1));
    }
    const std::array<std::array<int, 4>, 3> checkRects{
        {{9, 37, 141, 8}, {10, 135, 160, 8}, {9, 236, 168, 8}}};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& r = checkRects[i];
        trackChecks_[i] = l.CheckBox(kTrackCheckIds[i], QString(), r[0], r[1], r[2], r[3]);
        const QString leftOut = TrackLeftOutText(static_cast<int>(i) + 1);
        trackChecks_[i]->setToolTip(leftOut);
        trackChecks_[i]->setAccessibleDescription(leftOut);
    }
    l.PushButton(kErase, QStringLiteral("Erase"), 236, 250, 50, 23);
    l.GroupBox(kNoId, QString(), 232, 1, 110, 48, QStringLiteral("Reader"));
    l.GroupBox(kNoId, QStringLiteral("Message"), 4, 2, 219, 32, QStringLiteral("Message"));

    message_ = l.Place(kMessage, new QLineEdit, 9, 12, 205, 17, QStringLiteral("Message"));
    message_->setFocusPolicy(Qt::ClickFocus);  // editable, but no tab stop
    // What the jobs say there is spoken wherever the focus is: "Read Card<1> OK".
    announcer_ = new Announcer(this);
    connect(message_, &QLineEdit::textChanged, announcer_, &Announcer::Announce);
    {
        // Red text on the button-face colour, whether the window takes input or not; as red as
        // reads well on this desktop's button face.
        QPalette palette = message_->palette();
        const QColor face = palette.color(QPalette::Active, QPalette::Button);
        const QColor red = ReadableRed(face);
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, QPalette::Text, red);
            palette.setColor(group, QPalette::Base, face);
        }
        message_->setPalette(palette);
    }

    l.GroupBox(kTrack3Frame, QString(), 6, 245, 221, 87, QStringLiteral("Track3 data"));
    l.GroupBox(kTrack1Frame, QString(), 4, 43, 221, 84, QStringLiteral("Track1 data"));
    l.GroupBox(kTrack2Frame, QString(), 4, 142, 221, 91, QStringLiteral("Track2 data"));
    const QString banner =
        QStringLiteral("Magnetic Stripe Card Reader/writer               VK3300S  V1.07");
    l.Static(kNoId, banner, 243, 13, 88, 28, banner.simplified());
    QGroupBox* dataTypeFrame = l.GroupBox(kNoId, QStringLiteral("Select Data type"), 231, 94, 114,
                                          94, QStringLiteral("Select Data type"));
    l.Nest(dataTypeFrame, {l.Radio(kIso, QStringLiteral("ISO"), 239, 109, 28, 10, true),
                           l.Radio(kUserType, QStringLiteral("User Type"), 239, 154, 52, 10, false),
                           l.Radio(kRawType, QStringLiteral("Raw Type"), 239, 169, 48, 10, false),
                           l.Radio(kAamva, QStringLiteral("AAMVA"), 239, 124, 36, 10, false),
                           l.Radio(kCaDmv, QStringLiteral("CA DMV"), 239, 139, 40, 10, false)});
    dataTypeGroup_ = l.RadioGroup(1);
    l.GroupBox(kNoId, QString(), 231, 187, 115, 161, QStringLiteral("Card jobs"));
    l.PushButton(kSeqWrite, QStringLiteral("Seq. Write"), 236, 275, 50, 22);
    l.PushButton(kCopy, QStringLiteral("Copy"), 291, 198, 50, 24);
    l.PushButton(kCompare, QStringLiteral("Compare"), 291, 225, 50, 23);
    l.PushButton(kFromFile, QStringLiteral("From File"), 291, 251, 50, 23);
    l.PushButton(kToFile, QStringLiteral("To File"), 291, 277, 50, 21);
    const std::array<std::array<int, 4>, 3> counterRects{
        {{186, 44, 11, 8}, {185, 142, 11, 8}, {188, 246, 11, 8}}};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& r = counterRects[i];
        counters_[i] = l.StatusStatic(kCounterIds[i], QStringLiteral("0"), r[0], r[1], r[2], r[3],
                                      QStringLiteral("Track%1 characters").arg(i + 1));
        SetStatusText(counters_[i], QStringLiteral("0"));
        counters_[i]->setWordWrap(false);
        // Drawn over the frame line like the other statics: with the window's background.
        counters_[i]->setAutoFillBackground(true);
    }
    SetStatusText(
        l.StatusStatic(kConnection, QString(), 10, 335, 165, 8, QStringLiteral("Connection")),
        QString());
    QPushButton* password =
        l.PushButton(kChangePassword, QStringLiteral("Change\nLogo ID"), 292, 300, 49, 21);
    password->setToolTip(QStringLiteral("Set or change the program password. ") +
                         CPasswordDlg::ScopeText());
    password->setAccessibleDescription(password->toolTip());
    QGroupBox* beeperFrame =
        l.GroupBox(kNoId, QString(), 233, 68, 111, 21, QStringLiteral("Beeper"));
    l.Nest(beeperFrame, {l.Radio(kBeepOn, QStringLiteral("BEEP ON"), 241, 76, 44, 10, true),
                         l.Radio(kBeepOff, QStringLiteral("BEEP OFF"), 292, 76, 48, 10, false)});
    beeperGroup_ = l.RadioGroup(2);

    l.FinishTabOrder();
}

void CTollwickDlg::ConnectHandlers() {
    const auto clicked = [this](int id, auto handler) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::clicked, this, handler);
    };
    clicked(kExit, [this] { OnExit(); });
    clicked(kRead, [this] { emit ReadRequested(); });
    clicked(kSetup, [this] { emit SetupRequested(); });
    clicked(kWrite, [this] { emit WriteRequested(); });
    clicked(kErase, [this] { emit EraseRequested(); });
    // The command's result is not shown: the radio button shows the choice in any case.
    clicked(kHiCo, [this] { services_.reader.SetHiCo(); });
    clicked(kLoCo, [this] { services_.reader.SetLoCo(); });
    clicked(kCopy, [this] { emit CopyRequested(); });
    clicked(kCompare, [this] { emit CompareRequested(); });
    clicked(kFromFile, [this] { emit FromFileRequested(); });
    clicked(kToFile, [this] { emit ToFileRequested(); });
    clicked(kChangePassword, [this] { emit ChangePasswordRequested(); });
    clicked(kRawType, [this] { ApplyRawType(); });
    clicked(kIso, [this] { ApplyIso(); });
    clicked(kBeepOn, [this] { services_.reader.BeepOn(); });
    clicked(kBeepOff, [this] { services_.reader.BeepOff(); });
    clicked(kUserType, [this] { ApplyUserType(); });
    clicked(kAamva, [this] { ApplyAamva(); });
    clicked(kCaDmv, [this] { ApplyCaDmv(); });
    clicked(kSeqWrite, [this] { emit SeqWriteRequested(); });
    for (int i = 0; i < 3; ++i) {
        const auto index = static_cast<std::size_t>(i);
        connect(trackEdits_[index], &TrackEdit::OperatorChanged, this,
                [this, i] { OnTrackChanged(i); });
        connect(trackEdits_[index], &TrackEdit::FocusReceived, this,
                [this, i] { RefreshCounter(i); });
        connect(trackChecks_[index], &QCheckBox::clicked, this, [this, i] { OnTrackCheck(i); });
    }
}

void CTollwickDlg::CreateAuxiliaryWindows() {
    swipe_ = std::make_unique<CSwipeDlg>(this);
    eraseSelect_ = std::make_unique<CEraseSelectDlg>();
    seqWrite_ = std::make_unique<CSeqWriteDlg>();
    progress_ = std::make_unique<CProgressDlg>();
    password_ = std::make_unique<CPasswordDlg>();
    for (QDialog* dialog : std::initializer_list<QDialog*>{
             swipe_.get(), eraseSelect_.get(), seqWrite_.get(), progress_.get(), password_.get()}) {
        dialog->hide();
    }
}

CSetupDlg& CTollwickDlg::SetupWindow() {
    if (!setup_) {
        setup_ = std::make_unique<CSetupDlg>();
        setup_->hide();
        if (bindSetup_) bindSetup_(*setup_);
    }
    return *setup_;
}

void CTollwickDlg::CentreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect area = rect();
    area.moveCenter(screen->availableGeometry().center());
    move(area.topLeft());
}

QWidget* CTollwickDlg::Control(int id) const {
    return layout_->Control(id);
}

QPushButton* CTollwickDlg::Button(int id) const {
    return ControlAs<QPushButton>(id);
}

void CTollwickDlg::EnableJobButtons(bool on) {
    for (int id : kJobButtonIds) {
        if (id == kSetup && !on) continue;
        EnableControl(id, on);
    }
}

void CTollwickDlg::SetMessage(const QString& text) {
    UpdateData(true);
    messageText_ = text;
    UpdateData(false);
}

void CTollwickDlg::SetMessageText(const QString& text) {
    message_->setText(text);
}

QString CTollwickDlg::MessageText() const {
    return message_->text();
}

void CTollwickDlg::ShowTracks(std::string_view track1, std::string_view track2,
                              std::string_view track3) {
    UpdateData(true);
    trackText_ = {TrackQString(track1), TrackQString(track2), TrackQString(track3)};
    UpdateData(false);
    // The boxes got their texts without a change notification; their counters are refreshed
    // as when each box receives the focus, and the focus stays with the operator.
    for (int i = 0; i < 3; ++i) RefreshCounter(i);
}

void CTollwickDlg::FetchTracks(std::array<TrackBuffer, 3>& buffers) {
    UpdateData(true);
    for (std::size_t i = 0; i < 3; ++i) {
        buffers[i].fill('\0');
        const std::string bytes = TrackBytes(trackText_[i]);
        const std::size_t n = std::min(bytes.size(), kTrackBufferSize - 1);
        std::copy_n(bytes.begin(), n, buffers[i].begin());
    }
    UpdateData(false);
}

void CTollwickDlg::EnableControl(int id, bool on) {
    if (QWidget* control = Control(id)) control->setEnabled(on);
}

void CTollwickDlg::SetConnectionLine(const QString& text) {
    if (auto* line = ControlAs<QLabel>(kConnection)) SetStatusText(line, text);
}

void CTollwickDlg::UpdateData(bool fromControls) {
    if (fromControls) {
        for (std::size_t i = 0; i < 3; ++i) trackText_[i] = trackEdits_[i]->Text();
        messageText_ = message_->text();
        coercivity_ = coercivityGroup_->checkedId();
        dataType_ = dataTypeGroup_->checkedId();
        return;
    }
    // A text goes into a control only when it differs from what the control shows.
    for (std::size_t i = 0; i < 3; ++i) {
        if (trackEdits_[i]->Text() != trackText_[i]) trackEdits_[i]->SetProgramText(trackText_[i]);
    }
    if (message_->text() != messageText_) message_->setText(messageText_);
    SetGroupChoice(coercivityGroup_, coercivity_);
    SetGroupChoice(dataTypeGroup_, dataType_);
}

void CTollwickDlg::EndAsOk() {
    UpdateData(true);
    QDialog::accept();
}

void CTollwickDlg::OnExit() {
    emit StopJobRequested();
    services_.reader.ResetReader();  // sends nothing when no reader is connected
    EndAsOk();
}

void CTollwickDlg::ShowMessageBox(const QString& text) {
    services_.messageBoxes.Inform(this, text);
}

void CTollwickDlg::ShowAbout() {
    CAboutDlg about(this);
    emit AboutShowing(&about);
    about.exec();
}

void CTollwickDlg::OnTrackChanged(int index) {
    const auto i = static_cast<std::size_t>(index);
    TrackEdit* edit = trackEdits_[i];
    const TrackFormat format = services_.format.Get();
    const std::string text = TrackBytes(edit->Text());
    // Only the first refused character goes, and the caret steps back to where it was typed.
    if (const auto refused = FirstRefusedCharacter(text, format.settings[i], format.type)) {
        const int start = edit->SelectionStart();
        const int end = edit->SelectionEnd();
        edit->RemoveCharacter(static_cast<int>(*refused), start - 1, end - 1);
    }
    RefreshCounter(index);
}

void CTollwickDlg::RefreshCounter(int index) {
    const auto i = static_cast<std::size_t>(index);
    SetStatusText(counters_[i], QString::number(trackEdits_[i]->Length()));
}

void CTollwickDlg::OnTrackCheck(int index) {
    const auto i = static_cast<std::size_t>(index);
    // A checked track is left out: its box is emptied (the counter keeps its value until the
    // box is next refreshed) and takes no input.
    if (trackChecks_[i]->isChecked()) {
        trackEdits_[i]->setEnabled(false);
        trackEdits_[i]->SetProgramText(QString());
    } else {
        trackEdits_[i]->setEnabled(true);
    }
}

void CTollwickDlg::SetTrackLabel(int index, const QString& label) {
    QCheckBox* box = trackChecks_[static_cast<std::size_t>(index)];
    box->setText(label);
    box->setAccessibleName(label);
    WidenToText(box);
}

void CTollwickDlg::ApplyLayoutOf(DataType type) {
    TrackFormat format = services_.format.Get();
    const StoredUserKeys keys =
        type == DataType::kUser ? ReadUserKeys(services_.profile) : StoredUserKeys{};
    const DataTypeLayout layout = LayoutFor(type, format.density, format.settings, keys);
    for (std::size_t i = 0; i < 3; ++i) {
        SetTrackLabel(static_cast<int>(i), QString::fromStdString(layout.labels[i]));
        trackEdits_[i]->SetLimit(layout.limits[i]);
    }
    format.settings = layout.settings;
    format.type = type;
    services_.format.Set(format);
}

void CTollwickDlg::ApplyIso() {
    ApplyLayoutOf(DataType::kIso);
}
void CTollwickDlg::ApplyAamva() {
    ApplyLayoutOf(DataType::kAamva);
}
void CTollwickDlg::ApplyCaDmv() {
    ApplyLayoutOf(DataType::kCaDmv);
}
void CTollwickDlg::ApplyUserType() {
    ApplyLayoutOf(DataType::kUser);
}
void CTollwickDlg::ApplyRawType() {
    ApplyLayoutOf(DataType::kRaw);
}

void CTollwickDlg::AddContextMenuAction(QAction* action) {
    contextActions_.push_back(action);
    addAction(action);
}

std::vector<QAction*> CTollwickDlg::ContextMenuActions() {
    std::erase(contextActions_, nullptr);
    std::vector<QAction*> actions(contextActions_.begin(), contextActions_.end());
    // Where the desktop's system menu cannot carry the About entry, the window's own menu does.
    if (!systemMenuHasAbout_) {
        if (aboutAction_ == nullptr) {
            aboutAction_ = new QAction(AboutEntryText(), this);
            connect(aboutAction_, &QAction::triggered, this, &CTollwickDlg::ShowAbout);
        }
        actions.push_back(aboutAction_);
    }
    return actions;
}

void CTollwickDlg::contextMenuEvent(QContextMenuEvent* event) {
    const std::vector<QAction*> actions = ContextMenuActions();
    if (actions.empty()) {
        QDialog::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    for (QAction* action : actions) {
        if (action == aboutAction_ && !menu.isEmpty()) menu.addSeparator();
        menu.addAction(action);
    }
    menu.exec(event->globalPos());
}

#ifdef Q_OS_WIN
void CTollwickDlg::AddAboutToSystemMenu() {
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (menu == nullptr) return;
    const std::wstring text = AboutEntryText().toStdWString();
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kAboutCommand, text.c_str());
    systemMenuHasAbout_ = true;
}

bool CTollwickDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const auto* msg = static_cast<const MSG*>(message);
    // The low four bits of a system command belong to the system.
    if (msg->message == WM_SYSCOMMAND && (LOWORD(msg->wParam) & 0xFFF0) == kAboutCommand) {
        ShowAbout();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#else
void CTollwickDlg::AddAboutToSystemMenu() {}
#endif

}  // namespace tollwick
