#include "app/reader_control.h"

#include "device/reader_commands.h"

namespace tollwick {

CommandStatus CommandsReaderControl::SetHiCo() {
    return commands_.SetHiCo();
}
CommandStatus CommandsReaderControl::SetLoCo() {
    return commands_.SetLoCo();
}
void CommandsReaderControl::BeepOn() {
    commands_.BeepOn();
}
void CommandsReaderControl::BeepOff() {
    commands_.BeepOff();
}
CommandStatus CommandsReaderControl::ResetReader() {
    return commands_.ResetReader();
}

}  // namespace tollwick
