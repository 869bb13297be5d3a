#pragma once

// Whether a compositing manager runs, so that a translucent window (rounded
// corners, shadow margins) is drawn as meant. Without one, X11 shows the
// translucent pixels black. On X11 a compositing manager owns the selection
// _NET_WM_CM_S<screen>; Wayland always composites. Platforms it cannot tell
// (Windows with its desktop window manager, offscreen) count as composited.
// Asked once, at start; GUI thread.
namespace CompositorProbe {

bool isRunning();

} // namespace CompositorProbe
