// The controls of a dialog as a plain table, for driving dialog models without a display.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DataExchange.h"

struct ControlState {
  std::string text;
  int value = 0;
  bool enabled = true;
  bool shown = true;
  std::vector<std::string> items;
};

class ControlTable : public IDialogControls {
 public:
  std::string GetText(std::string_view name) override { return At(name).text; }
  void SetText(std::string_view name, const std::string& text) override { At(name).text = text; }
  int GetValue(std::string_view name) override { return At(name).value; }
  void SetValue(std::string_view name, int value) override { At(name).value = value; }
  void Enable(std::string_view name, bool enabled) override { At(name).enabled = enabled; }
  bool IsEnabled(std::string_view name) override { return At(name).enabled; }
  void SetFocus(std::string_view name) override { focus = std::string(name); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowInformation(const std::string& text) override {
    messages.push_back(text);
    informations.push_back(text);
  }
  void SetItems(std::string_view name, const std::vector<std::string>& items) override {
    At(name).items = items;
    At(name).value = -1;
  }
  void Show(std::string_view name, bool shown) override { At(name).shown = shown; }

  ControlState& At(std::string_view name) { return controls[std::string(name)]; }

  std::map<std::string, ControlState> controls;
  std::vector<std::string> messages;      // every box, in order
  std::vector<std::string> informations;  // the boxes of them with the information icon
  std::string focus;
};
