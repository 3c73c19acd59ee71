// The wx backend's secondary windows, one file each; all run on the GUI thread.
#pragma once

#include "platform/ui.h"
#include "platform/window.h"

namespace zqr::platform::wx {

// The About window, modal over the main window (wx_about.cpp).
void ShowAboutWindow();
// The "Output 360 stream" window, modeless, opened anew each time (wx_output_stream.cpp).
void OpenOutputStream();
// The export's progress window (wx_progress.cpp).
void ShowProgressWindow(bool visible);
void UpdateProgressWindow(const CompressionProgressView& view);
// The another-compression window, modal; true for "Save VIDEO" (wx_another_compression.cpp).
bool RunAnotherCompressionWindow(AnotherCompressionModel& model,
                                 const AnotherCompressionEvents& events);
// Closes the modeless windows when the main window closes.
void CloseSecondaryWindows();
const AboutTexts& CurrentAboutTexts();

}  // namespace zqr::platform::wx
