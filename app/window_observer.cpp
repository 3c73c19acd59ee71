// Each report and question of the core as the window has always shown it.
#include "app/window_observer.h"

#include "app/preview.h"
#include "core/control_ids.h"
#include "platform/ui.h"

namespace zqr {

namespace {

class Window final : public Observer {
 public:
  void Label(int control_id, const std::string& text) override {
    platform::CurrentUi().SetLabel(control_id, text);
  }
  void PositionBar(int32_t width) override {
    // The window seam has no picture-size call: the bar's width travels as its position.
    platform::CurrentUi().SetProgressPos(kIdPositionBar, width);
  }
  void Wait(int milliseconds) override { platform::CurrentUi().PumpOrSleep(milliseconds); }
  int Ask(const std::string& text, const std::string& caption, int style) override {
    return platform::CurrentUi().ShowMessage(text, caption, style);
  }
  std::string ChooseFile(const platform::FileDialogRequest& request) override {
    return platform::CurrentUi().ShowFileDialog(request);
  }
  bool AnotherCompression(platform::AnotherCompressionModel& model,
                          const platform::AnotherCompressionEvents& events) override {
    return platform::CurrentUi().RunAnotherCompression(model, events);
  }
  void CompressionProgress(bool visible) override {
    platform::CurrentUi().ShowCompressionProgress(visible);
  }
  void UpdateCompressionProgress(const platform::CompressionProgressView& view) override {
    platform::CurrentUi().UpdateCompressionProgress(view);
  }
  void ListSelection(int control_id, int index) override {
    platform::CurrentUi().SetListSelection(control_id, index);
  }
  void MenuChecked(int item_id, bool checked) override {
    platform::CurrentUi().SetMenuChecked(item_id, checked);
  }
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    if (PreviewConnected()) DrawPreviewFrame(frame);
  }
  void ResetPreview() override {
    if (PreviewConnected()) DrawIdlePreview();
  }
};

}  // namespace

Observer& WindowObserver() {
  static Window window;
  return window;
}

}  // namespace zqr
