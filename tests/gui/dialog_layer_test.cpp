// The dialog layer over real widgets: a refused OK keeps the dialog open with the message and
// the focus on the field; a valid OK closes it with the value taken.
#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "gui/support/GuiApp.h"
#include "ui/DialogView.h"

namespace {

using namespace wexo_gui;

struct DepthModel : DialogModel {
  int depth = 3;
  void DoDataExchange(DataExchange& dx) override {
    dx.Number("depth", depth);
    dx.MinMax(depth, 0, 9999);
  }
};

class DepthDialog : public ModelDialog {
 public:
  explicit DepthDialog(DepthModel& model) : ModelDialog(nullptr, "Depth", model) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* depth = new wxTextCtrl(this, wxID_ANY);
    depth->SetName("depth");
    top->Add(depth, 0, wxALL, 8);
    top->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxALL, 8);
    SetSizerAndFit(top);
  }
};

using DialogLayerTest = GuiTest;

void ClickOk(wxDialog& dialog) {
  wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
  click.SetEventObject(dialog.FindWindow(wxID_OK));
  dialog.FindWindow(wxID_OK)->GetEventHandler()->ProcessEvent(click);
}

TEST_F(DialogLayerTest, RefusedOkKeepsTheDialogOpen) {
  ASSERT_TRUE(Start());
  DepthModel model;
  DepthDialog dialog(model);
  std::string shownAtOpen;
  bool openAfterRefusal = false;
  dialog.CallAfter([&] {
    auto& controls = dialog.Controls();
    shownAtOpen = controls.GetText("depth");
    controls.SetText("depth", "10000");
    ClickOk(dialog);
    openAfterRefusal = dialog.IsModal();
    EXPECT_EQ(wxWindow::FindFocus(), controls.Find("depth"));
    controls.SetText("depth", "0");
    ClickOk(dialog);
  });
  EXPECT_EQ(dialog.ShowModal(), wxID_OK);
  EXPECT_EQ(shownAtOpen, "3");
  EXPECT_TRUE(openAfterRefusal);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "Please enter a number between 0 and 9999.");
  EXPECT_EQ(model.depth, 0);
  EXPECT_EQ(model.Controls(), &dialog.Controls());
}

}  // namespace
