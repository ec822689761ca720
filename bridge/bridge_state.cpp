#include "bridge/bridge.h"

BridgeState bridge_state = {
    1,        // stopped
    1,        // toggle_state
    nullptr,  // devices
    0,        // device_count
    {},       // selected
    nullptr,  // target_window
    {},       // reader_threads
    0,        // selected_count
};
