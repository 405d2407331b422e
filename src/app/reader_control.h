// The reader commands the main window sends itself: coercivity, beeper and the reset on EXIT.
#pragma once

#include "device/reader_status.h"

namespace tollwick {

class ReaderCommands;

class ReaderControl {
  public:
    virtual ~ReaderControl() = default;
    [[nodiscard]] virtual CommandStatus SetHiCo() = 0;
    [[nodiscard]] virtual CommandStatus SetLoCo() = 0;
    virtual void BeepOn() = 0;
    virtual void BeepOff() = 0;
    // Sends nothing when no reader is connected.
    [[nodiscard]] virtual CommandStatus ResetReader() = 0;
};

// Passes the window's commands on to the reader's command set.
class CommandsReaderControl final : public ReaderControl {
  public:
    explicit CommandsReaderControl(ReaderCommands& commands) : commands_(commands) {}
    CommandStatus SetHiCo() override;
    CommandStatus SetLoCo() override;
    void BeepOn() override;
    void BeepOff() override;
    CommandStatus ResetReader() override;

  private:
    ReaderCommands& commands_;
};

}  // namespace tollwick
