#include "app/card_tools.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeySequence>
#include <QScreen>
#include <algorithm>

#include "app/file_names.h"
#include "app/inspector_window.h"
#include "app/message_box_seam.h"
#include "app/tollwick_dlg.h"
#include "files/card_export.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

QAction* ProgramAction(const QString& text, const QKeySequence& key, QObject* parent) {
    auto* action = new QAction(text, parent);
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::ApplicationShortcut);
    }
    return action;
}

}  // namespace

QPoint PlaceBeside(const QRect& beside, const QSize& size, const QRect& free) {
    constexpr int kGap = 8;
    int x = beside.right() + 1 + kGap;
    if (x + size.width() > free.right() + 1) x = beside.left() - kGap - size.width();
    if (x < free.left()) x = std::max(free.left(), free.right() + 1 - size.width());
    const int y = std::clamp(beside.top(), free.top(),
                             std::max(free.top(), free.bottom() + 1 - size.height()));
    return {x, y};
}

QString CardTools::NoCardText() {
    return QStringLiteral(
        "No card has been read yet. Read a card first (Read, To File, Copy or "
        "Compare), then export it.");
}

QString CardTools::ExportFailedText(const QString& path, const QString& reason) {
    return QStringLiteral("The card could not be saved to %1: %2").arg(path, reason);
}

QString CardTools::VerifyNotStoredText() {
    return QStringLiteral(
        "The profile could not be written: Verify after write keeps this "
        "setting only until the program ends.");
}

CardTools::CardTools(CTollwickDlg& window, JobFlags& flags, ProfileStore& profile,
                     MessageBoxSeam& messageBoxes, QObject* parent)
    : QObject(parent),
      window_(window),
      flags_(flags),
      profile_(profile),
      messageBoxes_(messageBoxes) {
    inspectorAction_ =
        ProgramAction(QStringLiteral("&Inspector\u2026"), QKeySequence(Qt::CTRL | Qt::Key_I), this);
    connect(inspectorAction_, &QAction::triggered, this, &CardTools::ShowInspector);
    exportAction_ = ProgramAction(QStringLiteral("&Export last card\u2026"),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), this);
    connect(exportAction_, &QAction::triggered, this, &CardTools::ExportLastCard);
    verifyAction_ = ProgramAction(QStringLiteral("&Verify after write"), QKeySequence(), this);
    verifyAction_->setCheckable(true);
    const bool verify = StoredVerifyAfterWrite(profile_);
    verifyAction_->setChecked(verify);
    flags_.verifyAfterWrite.store(verify, std::memory_order_release);
    connect(verifyAction_, &QAction::toggled, this, &CardTools::SetVerifyAfterWrite);

    window_.AddContextMenuAction(inspectorAction_);
    window_.AddContextMenuAction(exportAction_);
    window_.AddContextMenuAction(verifyAction_);
}

CardTools::~CardTools() = default;

void CardTools::OnCardRead(const CardCapture& capture) {
    last_ = capture;
    if (inspector_) inspector_->ShowCard(capture);
}

// Built when first asked for, so that starting the program does not wait for it; it then shows
// the last card read and follows every read.
InspectorWindow& CardTools::Inspector() {
    if (!inspector_) {
        inspector_ = std::make_unique<InspectorWindow>();
        // The shortcuts also work while the Inspector has the focus.
        inspector_->addAction(inspectorAction_);
        inspector_->addAction(exportAction_);
        if (last_) inspector_->ShowCard(*last_);
    }
    return *inspector_;
}

void CardTools::ShowInspector() {
    InspectorWindow& inspector = Inspector();
    if (!inspectorPlaced_) PlaceInspector();
    inspector.showNormal();
    inspector.raise();
    inspector.activateWindow();
}

void CardTools::PlaceInspector() {
    inspectorPlaced_ = true;
    InspectorWindow& inspector = *inspector_;
    inspector.installEventFilter(this);
    const QByteArray stored = QByteArray::fromStdString(profile_.Read(kInspectorGeometryKey, ""));
    if (!stored.isEmpty() && inspector.restoreGeometry(QByteArray::fromBase64(stored))) return;

    const QScreen* screen =
        window_.screen() != nullptr ? window_.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect free = screen->availableGeometry();
    inspector.FitToContent(free);
    // Its frame is not known before it is shown: the main window's is a good guess.
    const QSize frame = window_.frameGeometry().size() - window_.size();
    inspector.move(PlaceBeside(window_.frameGeometry(), inspector.size() + frame, free));
}

bool CardTools::eventFilter(QObject* watched, QEvent* event) {
    if (inspector_ && watched == inspector_.get() && event->type() == QEvent::Hide) {
        const std::string geometry = inspector_->saveGeometry().toBase64().toStdString();
        // Rewritten only when it moved: every write goes to the disk.
        if (profile_.Read(kInspectorGeometryKey, "") != geometry)
            profile_.Write(kInspectorGeometryKey, geometry);
    }
    return QObject::eventFilter(watched, event);
}

void CardTools::ExportLastCard() {
    if (!last_) {
        messageBoxes_.Inform(&window_, NoCardText());
        return;
    }
    // The card as it is now: another card read while the dialog is up does not change it.
    const CardCapture card = *last_;
    const std::optional<QString> path =
        dialogs_->ChooseCardFile(&window_, FileDialogSeam::Purpose::kExport);
    if (!path) return;
    std::string error;
    // "Show account numbers" in the Inspector governs the export too; unticked, or the
    // Inspector not yet opened, they are masked.
    const bool showAccountNumbers =
        inspector_ != nullptr && inspector_->ShowAccountNumbers()->isChecked();
    if (!ExportCard(PathFromUtf8(FileNameArgument(*path)), card, &error, showAccountNumbers)) {
        messageBoxes_.Inform(&window_, ExportFailedText(*path, QString::fromStdString(error)));
    }
}

void CardTools::SetVerifyAfterWrite(bool on) {
    if (verifyAction_->isChecked() != on) {
        verifyAction_->setChecked(on);  // comes back here through toggled
        return;
    }
    flags_.verifyAfterWrite.store(on, std::memory_order_release);
    if (!StoreVerifyAfterWrite(profile_, on)) messageBoxes_.Inform(&window_, VerifyNotStoredText());
}

}  // namespace tollwick
