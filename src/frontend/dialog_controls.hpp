#pragma once

namespace korvane {

// Command identifiers of the main dialog's controls, the same in both windows.
// ID_OK is the Enter key's command (no control has it), ID_QUIT the "Quit"
// button's and the Escape key's.
enum DialogControl : int {
    ID_OK = 1,
    ID_QUIT = 2,
    ID_PROGRESS = 1000,
    ID_ADDRESS = 1001,
    ID_BROWSE = 1002,
    ID_FIRMWARE_PATH = 1003,
    ID_DOWNLOAD = 1004,
    ID_PING = 1005,
    ID_RESTORE_IP = 1006,
    ID_MACHINE_CODE = 1007,
    ID_GET_MACHINE_CODE = 1008,
    ID_PING_OUTPUT = 1076,  // the ping output dialog's text
};

}  // namespace korvane
