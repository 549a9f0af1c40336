// HTTP date parsing and the error texts of the internet classes.
#include "platform/InetDate.h"
#include "platform/InetError.h"

#include <gtest/gtest.h>

#include <set>

using namespace platform;

TEST(HttpDate, TheThreeFormsAndZonesGiveUtc) {
  struct Case {
    const char* text;
    std::int64_t unix;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
      {"Sun Nov  6 08:49:37 1994", 784111777},
      {"06 Nov 1994 08:49:37", 784111777},             // no day name, no zone
      {"Sun, 06 Nov 1994 10:49:37 +0200", 784111777},  // offset applied
      {"Sun, 06 Nov 1994 03:49:37 -0500", 784111777},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Tue, 29 Feb 2028 23:59:59 GMT", 1835481599},
      {"Mon, 01 Jan 2035 00:00:00 GMT", 2051222400},  // past 2030: kept, not refused
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SYSTEMTIME t;
    ASSERT_TRUE(ParseHttpDate(c.text, t));
    EXPECT_EQ(SystemTimeToUnixTime(t), c.unix);
    EXPECT_EQ(UnixTimeToSystemTime(c.unix).wDayOfWeek, t.wDayOfWeek);
  }
  SYSTEMTIME t;
  ASSERT_TRUE(ParseHttpDate("Tue, 01 Jul 2031 12:30:45 GMT", t));
  EXPECT_EQ(t.wYear, 2031);
  EXPECT_EQ(t.wMonth, 7);
  EXPECT_EQ(t.wDay, 1);
  EXPECT_EQ(t.wDayOfWeek, 2);
  EXPECT_EQ(t.wHour, 12);
  EXPECT_EQ(t.wMinute, 30);
  EXPECT_EQ(t.wSecond, 45);
}

TEST(HttpDate, NonsenseIsRefused) {
  for (const char* text :
       {"", "yesterday", "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 31 Feb 1994 08:49:37 GMT",
        "Sun, 06 Nov 1994 25:00:00 GMT", "Sun, 06 Nov 1994", "06 Nov 08:49:37", "Sun, 00 Nov 1994 08:49:37 GMT"}) {
    SCOPED_TRACE(text);
    SYSTEMTIME t;
    t.wYear = 1234;
    EXPECT_FALSE(ParseHttpDate(text, t));
    EXPECT_EQ(t.wYear, 1234) << "output touched on failure";
  }
}

TEST(HttpDate, UnixRoundTripKeepsCalendarFields) {
  for (std::int64_t s : {0LL, 86399LL, 951782400LL /* 2000-02-29 */, 4102444799LL, -86400LL}) {
    SCOPED_TRACE(s);
    EXPECT_EQ(SystemTimeToUnixTime(UnixTimeToSystemTime(s)), s);
  }
  const SYSTEMTIME t = UnixTimeToSystemTime(951782400);
  EXPECT_EQ(t.wYear, 2000);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(t.wDay, 29);
  EXPECT_EQ(t.wDayOfWeek, 2);  // a Tuesday
}

TEST(InternetErrors, EveryMappedNumberHasItsOwnText) {
  const std::uint32_t codes[] = {ERROR_INTERNET_TIMEOUT,
                                 ERROR_INTERNET_NAME_NOT_RESOLVED,
                                 ERROR_INTERNET_OPERATION_CANCELLED,
                                 ERROR_INTERNET_CANNOT_CONNECT,
                                 ERROR_INTERNET_CONNECTION_ABORTED,
                                 ERROR_INTERNET_CONNECTION_RESET,
                                 ERROR_HTTP_INVALID_SERVER_RESPONSE,
                                 ERROR_INTERNET_SEC_CERT_DATE_INVALID,
                                 ERROR_INTERNET_SEC_CERT_CN_INVALID,
                                 ERROR_INTERNET_INVALID_CA};
  std::set<std::string> texts;
  for (std::uint32_t c : codes) {
    const std::string text = InternetErrorMessage(c);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find("internet error"), std::string::npos) << c;
    texts.insert(text);
    const CInternetException e(c);
    EXPECT_EQ(e.m_dwError, c);
    EXPECT_EQ(e.GetErrorMessage(), text);
  }
  EXPECT_EQ(texts.size(), std::size(codes));
  EXPECT_EQ(InternetErrorMessage(12999), "internet error 12999");
}
