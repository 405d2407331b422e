// What the card jobs need of the main window and its swipe window.
//
// Every call may come from the window's thread (launches, monitor, cancel) or from the job
// worker's thread. The window carries worker calls over to its own thread, in the order they
// were made, and never lets a worker touch a widget.
#pragma once

#include <array>
#include <stop_token>
#include <string>

namespace tollwick {

enum class SwipeColour { kBlue, kRed, kDarkGreen };  // (0,0,255), (255,0,0), (0,100,0)

class JobView {
  public:
    virtual ~JobView() = default;

    // --- Main window ---
    // The message line set through data exchange: the window takes every control's value into
    // its members, changes the message and puts them all back (window thread) ...
    virtual void SetMessage(const std::string& text) = 0;
    // ... and its text set directly, no other control touched, as workers do.
    virtual void SetMessageLineDirectly(const std::string& text) = 0;
    virtual void ShowTracks(const TrackTexts& texts) = 0;
    virtual TrackTexts FetchTracks() = 0;  // window thread only
    virtual void EnableJobButtons(bool on) = 0;
    // The controls that need a reader: coercivity and data type.
    virtual void EnableReaderControls(bool on) = 0;
    virtual void EnableSetup(bool on) = 0;
    // BEEP ON and BEEP OFF: the firmware has the beeper commands.
    virtual void EnableBeeper(bool on) = 0;
    virtual void EnableWindow(bool on) = 0;
    virtual void SetConnectionLine(const std::string& text) = 0;
    virtual void SelectHiCo() = 0;
    virtual void Repaint() = 0;
    // Ends the program as EXIT does, without the reset (the monitor's exit request).
    virtual void EndAsOk() = 0;
    // While a worker lives, the commands the window sends itself (Hi-Co, Lo-Co, BEEP ON, BEEP OFF,
    // Setup) are disabled: one thread on the reader link. Called on the window thread.
    virtual void JobRunning(bool running) = 0;

    // --- Modal message boxes ---
    // On the window thread: shows the box and returns when it is closed. From the worker: the box
    // is shown on the window thread and the worker waits until it is closed or `stop` fires.
    virtual void MessageBox(const std::string& text, std::stop_token stop = {}) = 0;

    // --- Swipe window ---
    virtual void SetSwipeTitle(const std::string& title) = 0;
    virtual void SetSwipeColour(SwipeColour colour) = 0;
    // Lines 1 and 2 and the count line.
    virtual void SetSwipeLines(const std::string& line1, const std::string& line2,
                               const std::string& count) = 0;
    virtual void SetSwipeLine1(const std::string& text) = 0;
    virtual void SetSwipeCount(const std::string& text) = 0;
    virtual void ShowSwipe(bool show) = 0;
    virtual void CentreSwipe() = 0;
    virtual void CloseSwipe() = 0;

    // Pauses the calling thread; the window may keep its event loop running meanwhile.
    virtual void Sleep(int milliseconds) = 0;

    // Verify after write: the reader waits for the card just written to come through again.
    // (The virtual reader's hand puts the same card through; the operator needs nothing more
    // than the swipe window's line.)
    virtual void ExpectSameCardAgain() {}
};

}  // namespace tollwick
