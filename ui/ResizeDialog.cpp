#include "ui/ResizeDialog.h"

#include <wx/display.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include "engine/Application.h"
#include "platform/WindowPlacement.h"
#include "ui/WexoApplication.h"

void CResize::Init() {
  const wxSize size = m_pOwner->GetClientSize();
  m_items.clear();
  m_layout.Init(size.x, size.y, (m_nFlags & NoMinimum) != 0);
  if (!(m_nFlags & NoMinimum)) m_pOwner->SetMinClientSize(size);
  wxSize maximum = wxDefaultSize;
  if (m_nFlags & FixedWidth) maximum.x = m_pOwner->GetSize().x;
  if (m_nFlags & FixedHeight) maximum.y = m_pOwner->GetSize().y;
  m_pOwner->SetMaxSize(maximum);
}

void CResize::AddItem(const char* name, float left, float top, float right, float bottom) {
  wxWindow* control = m_pOwner->FindWindow(name);
  wxCHECK_RET(control != nullptr, name);
  int key = 0;
  while (key < static_cast<int>(m_items.size()) && m_items[key] != control) ++key;
  if (key == static_cast<int>(m_items.size())) m_items.push_back(control);
  const wxRect r = control->GetRect();
  m_layout.AddItem(key, platform::IntRect{r.x, r.y, r.width, r.height}, platform::Anchors{left, top, right, bottom});
}

void CResize::Relayout() {
  const wxSize size = m_pOwner->GetClientSize();
  m_layout.Relayout(size.x, size.y, [this](int key, const platform::IntRect& r) {
    m_items[key]->SetSize(r.x, r.y, r.width, r.height, wxSIZE_ALLOW_MINUS_ONE);
  });
}

CResizeDialog::CResizeDialog(wxWindow* parent, const wxString& title, int flags)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_resize(this, flags) {
  Bind(wxEVT_SIZE, &CResizeDialog::OnSize, this);
}

bool CResizeDialog::OnInitDialog() {
  if (wxSizer* sizer = GetSizer()) {
    sizer->SetSizeHints(this);
    wxDialog::Layout();
  }
  m_resize.Init();
  // The controls stay where the sizer put them; the sizer goes, so it never moves them again.
  SetSizer(nullptr);
  m_bAnchored = true;
  return true;
}

void CResizeDialog::OnSize(wxSizeEvent& event) {
  if (!m_bAnchored) {
    event.Skip();
    return;
  }
  m_resize.Relayout();
}

namespace {

constexpr const char* kPlacementEntry = "WindowPlacement";

bool OnWayland() { return wxGetDisplayInfo().type == wxDisplayWayland; }

}  // namespace

void SaveWindowPlacement(CResize& layout, const char* section) {
  wxTopLevelWindow* window = layout.Owner();
  platform::WINDOWPLACEMENT placement;
  placement.showCmd = window->IsIconized()    ? platform::SW_SHOWMINIMIZED
                      : window->IsMaximized() ? platform::SW_SHOWMAXIMIZED
                                              : platform::SW_SHOWNORMAL;
  const wxRect r = window->GetRect();
  placement.rcNormalPosition = platform::WindowRect{r.x, r.y, r.x + r.width, r.y + r.height};
  const auto bytes = platform::PlacementBytes(placement);
  wxGetApp().Values().WriteProfileBinary(section, kPlacementEntry, bytes.data(), bytes.size());
}

void RestoreWindowPlacement(CResize& layout, const char* section) {
  std::vector<std::uint8_t> bytes;
  platform::WINDOWPLACEMENT saved;
  if (!wxGetApp().Values().GetProfileBinary(section, kPlacementEntry, bytes) ||
      !platform::PlacementFromBytes(bytes, saved))
    return;
  std::vector<platform::WindowRect> displays;
  for (unsigned i = 0; i < wxDisplay::GetCount(); ++i) {
    const wxRect area = wxDisplay(i).GetClientArea();
    const platform::WindowRect rect{area.x, area.y, area.x + area.width, area.y + area.height};
    if (wxDisplay(i).IsPrimary())
      displays.insert(displays.begin(), rect);
    else
      displays.push_back(rect);
  }
  const platform::WINDOWPLACEMENT p = platform::PlacementForRestore(saved, displays);
  wxTopLevelWindow* window = layout.Owner();
  const platform::WindowRect& r = p.rcNormalPosition;
  if (OnWayland())
    window->SetSize(r.right - r.left, r.bottom - r.top);
  else
    window->SetSize(r.left, r.top, r.right - r.left, r.bottom - r.top);
  if (p.showCmd == platform::SW_SHOWMAXIMIZED) window->Maximize();
}
