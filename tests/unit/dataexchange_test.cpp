// The dialog layer's exchange: both directions, conversion and range checks, and the stop at the
// first failing field with its message and focus.
#include <gtest/gtest.h>

#include "platform/DataExchange.h"
#include "support/ControlTable.h"

namespace {

struct SampleModel : DialogModel {
  std::string name = "x";
  int depth = 5;
  std::int16_t retries = 1;
  int flag = 1;
  void DoDataExchange(DataExchange& dx) override {
    dx.Text("name", name);
    dx.SingleLine(name);
    dx.MaxChars(name, 8);
    dx.Number("depth", depth);
    dx.MinMax(depth, 0, 9999);
    dx.Number("retries", retries);
    dx.MinMax(retries, 0, 10);
    dx.Value("flag", flag);
  }
};

TEST(DataExchange, FieldsGoToTheControlsAndBack) {
  SampleModel model;
  ControlTable controls;
  model.AttachControls(&controls);
  ASSERT_TRUE(model.OnInitDialog());
  EXPECT_EQ(controls.At("name").text, "x");
  EXPECT_EQ(controls.At("depth").text, "5");
  EXPECT_EQ(controls.At("retries").text, "1");
  EXPECT_EQ(controls.At("flag").value, 1);

  controls.At("name").text = "abc";
  controls.At("depth").text = " 9999 ";
  controls.At("retries").text = "+0";
  controls.At("flag").value = 0;
  ASSERT_TRUE(model.UpdateData(true));
  EXPECT_EQ(model.name, "abc");
  EXPECT_EQ(model.depth, 9999);
  EXPECT_EQ(model.retries, 0);
  EXPECT_EQ(model.flag, 0);
  EXPECT_TRUE(controls.messages.empty());
}

TEST(DataExchange, FirstFailureStopsWithItsMessageAndFocus) {
  struct Case {
    const char* name;
    const char* depth;
    const char* retries;
    const char* message;
    const char* focus;
  };
  const Case cases[] = {
      {"ok", "10000", "11", "Please enter a number between 0 and 9999.", "depth"},
      {"ok", "-1", "0", "Please enter a number between 0 and 9999.", "depth"},
      {"ok", "", "0", "Please enter an integer.", "depth"},
      {"ok", "12x", "0", "Please enter an integer.", "depth"},
      {"ok", "0", "11", "Please enter a number between 0 and 10.", "retries"},
      {"ok", "0", "40000", "Please enter an integer.", "retries"},
      {"way too long", "0", "0", "Please enter no more than 8 characters.", "name"},
      {"a\nb", "0", "0", "Please enter a single line: line breaks and NUL characters are not allowed here.", "name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.depth) + "/" + c.retries);
    SampleModel model;
    ControlTable controls;
    model.AttachControls(&controls);
    controls.At("name").text = c.name;
    controls.At("depth").text = c.depth;
    controls.At("retries").text = c.retries;
    controls.At("flag").value = 0;
    EXPECT_FALSE(model.UpdateData(true));
    ASSERT_EQ(controls.messages.size(), 1u);
    EXPECT_EQ(controls.messages[0], c.message);
    EXPECT_EQ(controls.focus, c.focus);
    EXPECT_EQ(model.flag, 1);  // fields after the failure keep their values
  }
}

TEST(DataExchange, NulInsideAFieldIsRefused) {
  SampleModel model;
  ControlTable controls;
  model.AttachControls(&controls);
  controls.At("name").text = std::string("a\0b", 3);
  controls.At("depth").text = "1";
  controls.At("retries").text = "1";
  EXPECT_FALSE(model.UpdateData(true));
  EXPECT_EQ(controls.focus, "name");
}

TEST(DataExchange, WithoutControlsNothingHappens) {
  SampleModel model;
  EXPECT_FALSE(model.UpdateData(true));
  EXPECT_EQ(model.depth, 5);
}

}  // namespace
