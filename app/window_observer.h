// The window's observer: what the core reports goes onto the main window's controls, and
// its questions become the window's message boxes and dialogs.
#pragma once

#include "core/observer.h"

namespace zqr {

// The one window observer; it forwards to the installed window backend (CurrentUi), so
// tests that install the headless backend read what it was told there.
Observer& WindowObserver();

}  // namespace zqr
