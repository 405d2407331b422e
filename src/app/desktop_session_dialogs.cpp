// The session's wiring of Setup, Erase Select and the program password.
#include <cstdint>

#include "app/desktop_session.h"
#include "app/erase_select_dlg.h"
#include "app/password_dlg.h"
#include "app/setup_dlg.h"
#include "settings/password_hash.h"

namespace tollwick {

void DesktopSession::WireDialogs(ProfileStore& profile, MessageBoxSeam& messageBoxes) {
    CTollwickDlg* window = window_.get();
    JobMonitor* monitor = monitor_.get();
    QtJobView* view = view_.get();

    CSetupDlg& setup = window->SetupWindow();
    setup.Bind(*window, commands_);
    connect(window, &CTollwickDlg::SetupRequested, &setup, &CSetupDlg::Open);

    CEraseSelectDlg& erase = window->EraseSelectWindow();
    erase.Bind(messageBoxes,
               {.opened =
                    [view] {
                        view->EnableJobButtons(false);
                        view->ShowTracks({});
                    },
                .startErase = [monitor](uint8_t mask) { return monitor->LaunchErase(mask); },
                .cancelled = [monitor] { monitor->CancelEraseSelect(); }});
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

}  // namespace tollwick
