#pragma once

// What Qt WebEngine needs before the QApplication is constructed: OpenGL contexts shared
// between windows, and Chromium's flags. Chromium refuses to start as root with its sandbox, so
// a root process turns it off; `offscreen` (no display) also turns the GPU off, which Chromium
// would otherwise try and report failing. The engine's dump of its set-up is not logged.
void prepareWebEngine(bool offscreen);
