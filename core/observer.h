// What the core tells a client and asks of it. A client (the window, the batch mode, a
// test) passes its observer in when it loads a video or starts a conversion; the core calls
// nothing above itself but this. The window's observer puts everything on its controls, the
// batch mode's answers as a run without a user does. What a client does not watch it need
// not override.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/ui.h"

namespace zqr {

// One picture for the preview, valid for the call that hands it over: 32-bit BGRX pixels,
// rows bottom first and `stride` pixels apart, of which the first `width` columns of
// `height` rows are shown. A picture is letter-boxed to the area's width; a layout frame
// taller than wide (top and bottom) is pillar-boxed instead, so both eyes stay in sight.
struct PreviewFrame {
  const uint32_t* pixels = nullptr;
  int32_t stride = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool pillarbox_tall = false;
  std::vector<platform::PreviewPicture::Caption> captions;
};

class Observer {
 public:
  virtual ~Observer() = default;

  // A label of the main window by its identifier: the operation (kIdOperationLabel), the
  // video's data (kIdFileNameLabel .. kIdDurationLabel) and the frames done.
  virtual void Label(int /*control_id*/, const std::string& /*text*/) {}
  // The position bar, `width` pixels of kPositionBarMaxWidth.
  virtual void PositionBar(int32_t /*width*/) {}
  // Waits `milliseconds`; the window keeps its events flowing meanwhile.
  virtual void Wait(int milliseconds) { platform::SleepMs(milliseconds); }

  // Questions; each waits for its answer. A client with no one to ask answers Cancel to
  // the dialogs, as these defaults do; a message box's answer it must choose.
  virtual int Ask(const std::string& text, const std::string& caption, int style) = 0;
  // The chosen path, or an empty text for Cancel.
  virtual std::string ChooseFile(const platform::FileDialogRequest& /*request*/) { return {}; }
  // The another-compression window: true with model.path_text set for "Save VIDEO".
  virtual bool AnotherCompression(platform::AnotherCompressionModel& /*model*/,
                                  const platform::AnotherCompressionEvents& /*events*/) {
    return false;
  }

  // The export's progress window, and choices shown on the main window's list and menus.
  virtual void CompressionProgress(bool /*visible*/) {}
  virtual void UpdateCompressionProgress(const platform::CompressionProgressView& /*view*/) {}
  virtual void ListSelection(int /*control_id*/, int /*index*/) {}
  virtual void MenuChecked(int /*item_id*/, bool /*checked*/) {}

  // The preview: the picture to draw now (the filtered picture, or during a recording the
  // last finished output frame with the conversion's captions); called on the thread that
  // processed it, the graph's during a recording. ResetPreview: back to the idle picture.
  virtual void ShowPreviewFrame(const PreviewFrame& /*frame*/) {}
  virtual void ResetPreview() {}
};

// Passes every report and question on to `target`: a client that watches a few itself
// overrides those and leaves the rest to the observer it relays to.
class ObserverRelay : public Observer {
 public:
  explicit ObserverRelay(Observer& target) : target_(target) {}
  void Label(int control_id, const std::string& text) override { target_.Label(control_id, text); }
  void PositionBar(int32_t width) override { target_.PositionBar(width); }
  void Wait(int milliseconds) override { target_.Wait(milliseconds); }
  int Ask(const std::string& text, const std::string& caption, int style) override {
    return target_.Ask(text, caption, style);
  }
  std::string ChooseFile(const platform::FileDialogRequest& request) override {
    return target_.ChooseFile(request);
  }
  bool AnotherCompression(platform::AnotherCompressionModel& model,
                          const platform::AnotherCompressionEvents& events) override {
    return target_.AnotherCompression(model, events);
  }
  void CompressionProgress(bool visible) override { target_.CompressionProgress(visible); }
  void UpdateCompressionProgress(const platform::CompressionProgressView& view) override {
    target_.UpdateCompressionProgress(view);
  }
  void ListSelection(int control_id, int index) override {
    target_.ListSelection(control_id, index);
  }
  void MenuChecked(int item_id, bool checked) override { target_.MenuChecked(item_id, checked); }
  void ShowPreviewFrame(const PreviewFrame& frame) override { target_.ShowPreviewFrame(frame); }
  void ResetPreview() override { target_.ResetPreview(); }

 private:
  Observer& target_;
};

}  // namespace zqr
