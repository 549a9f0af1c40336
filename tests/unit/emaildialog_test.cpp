// The e-mail options dialog's model without a display: which controls follow the e-mail check
// box, the required fields in their order, and line breaks refused in every mail field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Application.h"
#include "ui/EMailDialog.h"
#include "unit/support/ControlTable.h"

namespace {

const char* const kFollowers[] = {"EMailOnlyIfBroken", "From", "To", "Subject", "SmtpServer", "Test"};

struct EMailDialogTest : ::testing::Test {
  EMailDialogTest() : model(app) { model.AttachControls(&controls); }
  CWexoApp app;
  CEMailDlg model;
  ControlTable controls;
};

TEST_F(EMailDialogTest, ControlsFollowTheEMailCheckBox) {
  model.m_mail.EMail = 1;
  model.m_mail.EMailTo = "a@example.org";
  model.OnInitDialog();
  EXPECT_EQ(controls.At("EMail").value, 1);
  EXPECT_EQ(controls.At("To").text, "a@example.org");
  for (const char* name : kFollowers) EXPECT_TRUE(controls.At(name).enabled) << name;

  controls.At("EMail").value = 0;
  model.OnEMailToggle();
  EXPECT_EQ(model.m_mail.EMail, 0);
  for (const char* name : kFollowers) EXPECT_FALSE(controls.At(name).enabled) << name;
  EXPECT_TRUE(controls.At("EMail").enabled);

  CEMailDlg cleared(app);
  ControlTable fresh;
  cleared.AttachControls(&fresh);
  cleared.OnInitDialog();
  for (const char* name : kFollowers) EXPECT_FALSE(fresh.At(name).enabled) << name;
}

TEST_F(EMailDialogTest, OkChecksToFromAndServerInThatOrder) {
  const struct {
    int email;
    const char* to;
    const char* from;
    const char* server;
    const char* message;  // empty: closes
    const char* focus;
  } cases[] = {
      {0, "", "", "", "", ""},
      {1, "", "", "", "'To:' field empty", "To"},
      {1, "a@x", "", "", "'From:' field empty", "From"},
      {1, "a@x", "b@y", "", "'SMTP-Server:' field empty", "SmtpServer"},
      {1, "", "b@y", "mail", "'To:' field empty", "To"},
      {1, "a@x", "b@y", "mail", "", ""},
  };
  for (const auto& c : cases) {
    ControlTable table;
    CEMailDlg dialog(app);
    dialog.AttachControls(&table);
    dialog.OnInitDialog();
    table.At("EMail").value = c.email;
    table.At("To").text = c.to;
    table.At("From").text = c.from;
    table.At("SmtpServer").text = c.server;
    const bool closes = *c.message == '\0';
    EXPECT_EQ(dialog.OnOK(), closes) << c.message;
    EXPECT_EQ(table.messages, closes ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    EXPECT_EQ(table.focus, c.focus);
    // The Test button runs the same checks first (and sends nothing when they fail).
    if (!closes) {
      dialog.OnTest();
      EXPECT_EQ(table.messages.back(), c.message);
    }
  }
}

TEST_F(EMailDialogTest, LineBreaksAndNulAreRefusedOnTheirField) {
  for (const char* field : {"From", "SmtpServer", "Subject", "To"}) {
    for (const std::string& bad : {std::string("a\r\nRCPT TO:<x@y>"), std::string("a\nb"), std::string("a\0b", 3)}) {
      ControlTable table;
      CEMailDlg dialog(app);
      dialog.AttachControls(&table);
      dialog.OnInitDialog();
      table.At("EMail").value = 1;
      table.At("To").text = "a@x";
      table.At("From").text = "b@y";
      table.At("SmtpServer").text = "mail";
      table.At(field).text = bad;
      EXPECT_FALSE(dialog.OnOK()) << field;
      ASSERT_EQ(table.messages.size(), 1u) << field;
      EXPECT_NE(table.messages[0].find("single line"), std::string::npos) << table.messages[0];
      EXPECT_EQ(table.focus, field);
      // Unchecking the report does not let it through either: the texts are stored all the same.
      table.At("EMail").value = 0;
      EXPECT_FALSE(dialog.OnOK()) << field;
    }
  }
}

}  // namespace
