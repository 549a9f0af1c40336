// The models behind the credential and certificate dialogs, and file-dialog filters; no display.
#include <gtest/gtest.h>

#include "ui/SecurityDialogs.h"
#include "ui/WxHost.h"
#include "unit/support/ControlTable.h"

namespace {

TEST(SecurityDialogs, CredentialModelTellsWhoAsksAndNeedsAUser) {
  CredentialPrompt prompt;
  prompt.server = "http://h:8080";
  prompt.realm = "members";
  prompt.user = "ann";
  CredentialDialogModel model(prompt);
  EXPECT_EQ(model.Heading(), "The server http://h:8080 asks for a user name and password.");
  EXPECT_EQ(model.Realm(), "Realm: members");
  EXPECT_EQ(model.m_user, "ann");
  EXPECT_TRUE(model.CanAccept());
  model.m_user.clear();
  EXPECT_FALSE(model.CanAccept());

  // Through its controls: the user name given is shown; OK takes both fields and needs a user.
  ControlTable controls;
  model.AttachControls(&controls);
  model.m_user = "ann";
  model.OnInitDialog();
  EXPECT_EQ(controls.At("user").text, "ann");
  EXPECT_EQ(controls.At("password").text, "");
  controls.At("user").text = "";
  EXPECT_FALSE(model.OnOK());
  controls.At("user").text = "bob";
  controls.At("password").text =
      "s\xC3\xA9"
      "cret";
  EXPECT_TRUE(model.OnOK());
  EXPECT_EQ(model.m_user, "bob");
  EXPECT_EQ(model.m_password,
            "s\xC3\xA9"
            "cret");
  model.AttachControls(nullptr);

  prompt.proxy = true;
  prompt.realm.clear();
  EXPECT_EQ(CredentialDialogModel(prompt).Heading().rfind("The proxy ", 0), 0u);
  EXPECT_EQ(CredentialDialogModel(prompt).Realm(), "");
}

TEST(SecurityDialogs, CertificateModelNamesServerProblemAndUrl) {
  CertificatePrompt prompt{"https://h/x", "h:443", 12045, "The certificate authority is not trusted", {}};
  const std::string text = CertificateDialogModel(prompt).Message();
  for (const char* part : {"h:443", "The certificate authority is not trusted", "https://h/x", "go on"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
}

TEST(SecurityDialogs, FiltersBecomeWildcards) {
  const struct {
    const char* filter;
    const char* wildcard;
  } cases[] = {
      {"Text Files (*.txt)|*.txt|All Files (*.*)|*.*|", "Text Files (*.txt)|*.txt|All Files (*.*)|*"},
      {"Wexo Link Tolvak Files (*.wxo)|*.wxo|", "Wexo Link Tolvak Files (*.wxo)|*.wxo"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WildcardFromFilter(c.filter), c.wildcard) << c.filter;
}

}  // namespace
