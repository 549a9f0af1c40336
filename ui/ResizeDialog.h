// Resizable dialogs whose controls follow the window by anchor factors, and window placements
// kept across runs.
//
// A dialog builds its controls with sizers as usual; the sizer gives the first layout once
// (CResizeDialog::OnInitDialog), and from then on the anchors move the controls. The window
// cannot be made smaller than that first size. GTK 3 draws no size grip: the window manager's
// frame is the handle.
#pragma once

#include <vector>

#include <wx/dialog.h>

#include "platform/AnchorLayout.h"

class CResizeDialog;

class CResize {
 public:
  enum Flags : int {
    NoGrip = 0x01,  // always so here: GTK 3 has no size grip
    FixedWidth = 0x02,
    FixedHeight = 0x04,
    NoMinimum = 0x08,
  };

  CResize(CResizeDialog* owner, int flags) : m_pOwner(owner), m_nFlags(flags) {}

  // Forgets the items; the owner's client size now is the last size and, unless NoMinimum,
  // its minimum; FixedWidth and FixedHeight hold that width or height.
  void Init();
  // Registers the owner's child of that window name; registering it again adds the factors.
  void AddItem(const char* name, float left, float top, float right, float bottom);
  // Moves the controls for the owner's size now.
  void Relayout();

  CResizeDialog* Owner() const { return m_pOwner; }

 private:
  CResizeDialog* m_pOwner;
  int m_nFlags;
  platform::AnchorLayout m_layout;
  std::vector<wxWindow*> m_items;
};

class CResizeDialog : public wxDialog {
 public:
  CResizeDialog(wxWindow* parent, const wxString& title, int flags);

  // After the controls are built and in sizers: the sizer's layout, then the anchors take
  // over. Derived dialogs call it first and register their controls afterwards.
  virtual bool OnInitDialog();

  CResize& GetResize() { return m_resize; }

 private:
  void OnSize(wxSizeEvent& event);

  CResize m_resize;
  bool m_bAnchored = false;
};

// The window's placement in the binary profile value "WindowPlacement" of section. Restoring
// ignores a missing value or one of any size but 44 bytes, never shows the window minimised
// and puts it onto a display that exists. Under Wayland a window cannot place itself, so only
// its size is restored.
void SaveWindowPlacement(CResize& layout, const char* section);
void RestoreWindowPlacement(CResize& layout, const char* section);
