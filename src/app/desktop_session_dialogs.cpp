// The session's wiring of Setup, Erase Select and the program password, what Setup's OK does
// with the reader, and the one word of explanation when the reader cannot be opened.
#include <cstdint>

#include "app/desktop_session.h"
#include "app/erase_select_dlg.h"
#include "app/message_box_seam.h"
#include "app/password_dlg.h"
#include "app/setup_dlg.h"
#include "device/reader_link.h"
#include "device/setup_connection.h"
#include "settings/password_hash.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

// A reader that the system lists but that this user cannot open: on Linux, the permissions of
// its /dev/hidraw node, which the udev rule that comes with the program grants; on Windows,
// another program that holds it.
bool ReaderListedButNotOpened(HidBackend& backend) {
    for (const uint16_t vendor : {kReaderVendorPrimary, kReaderVendorSecondary}) {
        for (const HidDeviceInfo& info : backend.Enumerate(vendor, kReaderProduct)) {
            if (backend.Open(info) == nullptr) return true;
        }
    }
    return false;
}

}  // namespace

QString DesktopSession::CannotOpenReaderText() {
#ifdef Q_OS_WIN
    return QStringLiteral(
        "A VK3300S reader is plugged in but cannot be opened.\n\n"
        "Close any other program that uses the reader, then unplug it and plug it in again.");
#else
    return QStringLiteral(
        "A VK3300S reader is plugged in but cannot be opened.\n\n"
        "Let your user open its /dev/hidraw device: install the udev rule that comes with "
        "Tollwick (see its README), then unplug the reader and plug it in again.");
#endif
}

QString DesktopSession::ReaderFoundText() {
    return QStringLiteral("Reader found: press Setup, OK to connect");
}

void DesktopSession::WatchForReader() {
    if (commands_.IsConnected()) {
        readerWatch_.stop();
        return;
    }
    // The bus is the worker's while a job runs; Setup may be connecting right now.
    if (monitor_->WorkerActive() || !window_->isEnabled()) return;
    bool present = false;
    for (const uint16_t vendor : {kReaderVendorPrimary, kReaderVendorSecondary})
        present = present || !backend_->Enumerate(vendor, kReaderProduct).empty();
    if (present && !readerSaid_) window_->SetMessage(ReaderFoundText());
    readerSaid_ = present;
}

void DesktopSession::ExplainFailedConnection() {
    // After the connection attempt, once the window is the operator's (not behind the start-up
    // password). The message line keeps its "Not Connect Device".
    if (connectionExplained_ || flags_.startupDone.load(std::memory_order_acquire) == 0 ||
        !window_->isEnabled()) {
        return;
    }
    connectionExplained_ = true;
    if (commands_.IsConnected()) return;
    if (ReaderListedButNotOpened(*backend_)) {
        // Already there, and said so in the box: the watch waits for the next plug-in.
        readerSaid_ = true;
        messageBoxes_.Inform(window_.get(), CannotOpenReaderText());
    }
    readerWatch_.start(kReaderWatchMs);
}

void DesktopSession::WireDialogs(ProfileStore& profile, MessageBoxSeam& messageBoxes) {
    CTollwickDlg* window = window_.get();
    JobMonitor* monitor = monitor_.get();
    QtJobView* view = view_.get();

    window->OnSetupWindowBuilt([this, window, &profile, &messageBoxes](CSetupDlg& setup) {
        setup.Bind(
            format_, profile, messageBoxes,
            {.opened =
                 [window] {
                     window->EnableWindow(false);
                     window->update();
                 },
             .chosen = [this, &profile](const SetupChoice& choice) { ApplySetup(choice, profile); },
             .closed = [window] { window->EnableWindow(true); }});
    });
    connect(window, &CTollwickDlg::SetupRequested, this,
            [window] { window->SetupWindow().Open(); });

    CEraseSelectDlg& erase = window->EraseSelectWindow();
    erase.Bind(
        messageBoxes,
        {.opened =
             [view] {
                 view->EnableJobButtons(false);
                 view->ShowTracks({});
             },
         .startErase = [monitor](uint8_t mask) { return monitor->LaunchErase(mask); },
         .cancelled = [monitor] { monitor->CancelEraseSelect(); },
         .maskChanged =
             [this](uint8_t mask) { flags_.eraseMask.store(mask, std::memory_order_release); }});
    connect(window, &CTollwickDlg::EraseRequested, &erase, &CEraseSelectDlg::Open);

    CPasswordDlg& password = window->PasswordWindow();
    // The start-up entry may be answered before the first tick: the window then waits for the
    // connection attempt, which enables it.
    password.Bind(profile, messageBoxes, [this, window](bool on) {
        if (on && flags_.startupDone.load(std::memory_order_acquire) == 0) return;
        window->EnableWindow(on);
    });
    connect(window, &CTollwickDlg::ChangePasswordRequested, &password,
            &CPasswordDlg::ShowChangeEntry);
    // The start-up entry's first outcome decides: accepted, the window is the operator's once
    // the reader connection has been tried; cancelled, the program ends on the next tick.
    if (HasStoredPassword(profile)) monitor->SetStartupPasswordPending(true);
    connect(&password, &CPasswordDlg::StateChanged, this, [this](int state) {
        if (!monitor_->StartupPasswordPending()) return;
        monitor_->SetStartupPasswordPending(false);
        if (state == CPasswordDlg::kCancelled)
            flags_.exitRequested.store(1, std::memory_order_release);
    });
}

void DesktopSession::ShowStartupPassword() {
    if (monitor_->StartupPasswordPending()) window_->PasswordWindow().ShowStartupEntry();
}

void DesktopSession::ApplySetup(const SetupChoice& choice, ProfileStore& profile) {
    CTollwickDlg& window = *window_;
    const SetupConnection connection = ConnectForSetup(commands_, StoredPort(profile), choice.port);
    if (connection.storeTypedPort) StorePort(profile, choice.port);
    window.EnableJobButtons(connection.connected);
    window.SetMessage(connection.port > 0 ? QStringLiteral("K47 Ready")
                                          : QStringLiteral("Not Connect K47"));
    // A reader found now, after the start-up found none, must be usable: its coercivity and data
    // type buttons come back with the job buttons. Nothing else of the window changes.
    if (connection.connected && commands_.IsConnected()) window.EnableReaderControls(true);

    // The density chosen goes to the reader and the profile; no one looks at the reader's
    // status.
    if (format_.Density() == Track2Density::k75) {
        static_cast<void>(commands_.SetTrack2Density(false));
        window.ShowTrack2Density(Track2Density::k75);
        StoreDensity(profile, Track2Density::k75);
    } else {
        window.ShowTrack2Density(Track2Density::k210);
        StoreDensity(profile, Track2Density::k210);
        static_cast<void>(commands_.SetTrack2Density(true));
    }
    if (choice.userKeys) WriteUserKeys(profile, *choice.userKeys);
    window.EnableWindow(true);
    if (choice.userKeys) window.ApplyUserType();
}

}  // namespace tollwick
