#include "app/reader_control.h"

#include "device/reader_commands.h"

namespace tollwick {

int CommandsReaderControl::SetHiCo() {
    return commands_.SetHiCo();
}
int CommandsReaderControl::SetLoCo() {
    return commands_.SetLoCo();
}
void CommandsReaderControl::BeepOn() {
    commands_.BeepOn();
}
void CommandsReaderControl::BeepOff() {
    commands_.BeepOff();
}
int CommandsReaderControl::ResetReader() {
    return commands_.ResetReader();
}

}  // namespace tollwick
