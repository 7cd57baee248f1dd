#pragma once

// How the web engine behind the skin windows is set up, before the application object exists.

#include <string>

namespace gardivo {

// The process environment the skin pages are shown with:
// - X11 (XWayland on a Wayland desktop): the skin windows move themselves, stay on top and take
//   the focus, which Wayland refuses to clients.
// - No OpenGL: the pages are drawn in software and composed in software. Loading the system's
//   OpenGL driver brings in a software rasteriser (Mesa with LLVM, some 50 MiB of memory) that
//   nothing here uses, and composing with OpenGL on a machine without a graphics card costs a
//   fifth of a core for every thirty pictures of live video.
// - One renderer process for all skin pages (they are one site: the program directory), and no
//   second, unsandboxed zygote, which only starts helpers the skins do not use. Each skin page
//   in a renderer of its own held some 80 MiB more per window.
// - The browser's sandbox cannot run for root; without turning it off the pages would not show.
// Values the user set in the environment are kept; the Chromium switches are added to theirs.
void prepareWebEngineEnvironment();

// The Chromium switches the program adds to those of QTWEBENGINE_CHROMIUM_FLAGS.
std::string withProgramSwitches(const std::string& userSwitches);

} // namespace gardivo
