// The headless backend: the ideal window the tests (and a program without a window) use.
// Its model of the window and its script of answers are its own, not part of the seam.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui.h"

namespace zqr::platform {

// The headless backend: an ideal, silent window. It keeps every label and progress
// value it is given and every message it is asked to show, so tests and batch runs can
// read them back; message boxes answer `default_answer` (OK unless set otherwise).
class HeadlessUi : public Ui {
 public:
  struct Message {
    std::string text;
    std::string caption;
    int style = 0;
  };

  HeadlessUi();
  const char* Name() const override { return "headless"; }
  int ShowMessage(const std::string& text, const std::string& caption, int style) override;
  void SetLabel(int control_id, const std::string& text) override;
  std::string GetLabel(int control_id) const override;
  void SetProgressRange(int control_id, int32_t low, int32_t high) override;
  void SetProgressPos(int control_id, int32_t pos) override;
  void PumpOrSleep(int milliseconds) override;
  std::string ShowFileDialog(const FileDialogRequest& request) override;
  std::string PickFolder(const std::string& title, const std::string& start) override;

  void SetChecked(int control_id, bool checked) override;
  bool IsChecked(int control_id) const override;
  void SetMenuChecked(int item_id, bool checked) override;
  bool IsMenuChecked(int item_id) const override;
  void EnableControl(int control_id, bool enabled) override;
  void EnableMenuItem(int item_id, bool enabled) override;
  void SetSliderPos(int control_id, int position) override;
  int SliderPos(int control_id) const override;
  void SetListSelection(int control_id, int index) override;
  int ListSelection(int control_id) const override;
  std::string ListText(int control_id) const override;
  void SetPicture(int control_id, const std::string& name) override;
  void SetTextColours(int control_id, Rgb foreground, Rgb background) override;
  void ResetPreview() override;
  void ShowPreview(std::shared_ptr<const PreviewPicture> picture) override;
  void PlaySound(const std::string& resource_name) override;
  void OpenOutputStreamWindow() override;
  void ShowAbout() override;
  void CloseMainWindow() override;

  // The window as a model: built from the layout, then read and clicked by tests and
  // batch runs. Clicks go to the handlers as the wx window would send them.
  void BuildWindow(const WindowLayout& layout, WindowEvents events);
  bool HasControl(int control_id) const;
  bool IsEnabled(int control_id) const;  // controls and menu items alike
  std::string Picture(int control_id) const;
  Rgb TextColour(int control_id) const;
  void Click(int id);  // button, menu item or check box (toggled first)
  void Accelerator(bool ctrl, int key);
  void SelectListItem(int control_id, int index);
  void MoveSlider(int control_id, int position);
  bool Hover(int control_id);
  bool RequestClose();
  bool WindowClosed() const;
  int SoundsPlayed() const;
  int PreviewResets() const;
  int OutputStreamOpenings() const;
  int AboutShown() const;
  std::shared_ptr<const PreviewPicture> LastPreview() const;

  bool RunAnotherCompression(AnotherCompressionModel& model,
                             const AnotherCompressionEvents& events) override;
  void ShowCompressionProgress(bool visible) override;
  void UpdateCompressionProgress(const CompressionProgressView& view) override;

  // The script. File dialogs and the folder browser answer the queued paths in order, then
  // Cancel; message boxes the queued answers in order, then the default answer.
  void QueueFileDialogAnswer(const std::string& path);
  void QueueMessageAnswer(int answer);
  // One use of the another-compression window: the lists picked (-1: left alone), whether
  // "Select file path" is clicked, then "Save VIDEO" with `path` (true) or "Exit/Cancel".
  // Without a queued answer the window answers Exit/Cancel.
  struct CompressionAnswer {
    int compression_index = -1;
    int resize_index = -1;
    bool click_select_path = false;
    bool save = false;
    std::string path;  // typed into the edit box before "Save VIDEO"; empty keeps its text
  };
  void QueueAnotherCompressionAnswer(const CompressionAnswer& answer);

  std::vector<FileDialogRequest> FileDialogRequests() const;
  std::vector<AnotherCompressionModel> AnotherCompressionModels() const;
  // How often the progress window was shown and updated, and the last view.
  int ProgressShows() const;
  int ProgressUpdates() const;
  CompressionProgressView LastProgressView() const;

  std::vector<Message> Messages() const;
  std::vector<std::pair<int, std::string>> LabelHistory() const;
  int32_t ProgressPos(int control_id) const;
  void SetDefaultAnswer(int answer);
  void Clear();

  struct State;  // the model's state, behind one lock

 private:
  std::shared_ptr<State> state_;
};

}  // namespace zqr::platform
