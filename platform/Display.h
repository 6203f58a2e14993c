// Whether a window can be shown at all, before the toolkit is started.
#pragma once

namespace platform {

// True when the platform Qt will use can show windows: a display server is named
// (DISPLAY or WAYLAND_DISPLAY), or another platform (offscreen, vnc ...) is chosen.
bool DisplayAvailable();

} // namespace platform
