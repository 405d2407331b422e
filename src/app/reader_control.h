// The reader commands the main window sends itself: coercivity, beeper and the reset on EXIT.
#pragma once

namespace tollwick {

class ReaderCommands;

class ReaderControl {
  public:
    virtual ~ReaderControl() = default;
    virtual int SetHiCo() = 0;
    virtual int SetLoCo() = 0;
    virtual void BeepOn() = 0;
    virtual void BeepOff() = 0;
    // Sends nothing when no reader is connected.
    virtual int ResetReader() = 0;
};

// Passes the window's commands on to the reader's command set.
class CommandsReaderControl final : public ReaderControl {
  public:
    explicit CommandsReaderControl(ReaderCommands& commands) : commands_(commands) {}
    int SetHiCo() override;
    int SetLoCo() override;
    void BeepOn() override;
    void BeepOff() override;
    int ResetReader() override;

  private:
    ReaderCommands& commands_;
};

}  // namespace tollwick
