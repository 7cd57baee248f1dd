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
// - The browser's sandbox is kept wherever the system can give it. Chromium refuses it to root,
//   and it needs user namespaces from the kernel; without it the pages would not show at all, so
//   it is turned off then, and the program opens no pages from the web (see webSandboxOn).
// Values the user set in the environment are kept; the Chromium switches are added to theirs.
void prepareWebEngineEnvironment();

// Whether the pages run in the browser's sandbox (after prepareWebEngineEnvironment).
bool webSandboxOn();
// Whether this system can give the sandbox to this process: not as root, and not where the
// kernel gives no unprivileged user namespaces. The folder of the kernel's settings is a
// parameter for the tests.
bool webSandboxPossible(const std::string& kernelSettings = "/proc/sys");

// The Chromium switches the program adds to those of QTWEBENGINE_CHROMIUM_FLAGS.
std::string withProgramSwitches(const std::string& userSwitches);

} // namespace gardivo
