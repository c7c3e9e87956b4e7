#pragma once

namespace kp {

// Lets the user interface handle what is pending (repaints, input, timers) in the
// middle of a long step that runs on the user-interface thread.
void ProcessMessages();

} // namespace kp
