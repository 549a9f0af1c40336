#include "platform/LocalTime.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::FormatLocalTime;

// Central European time with its summer rule, spelled out so no zone files are needed.
constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

class FormatLocalTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    hadZone_ = old != nullptr;
    if (hadZone_) oldZone_ = old;
    setenv("TZ", kZone, 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone_)
      setenv("TZ", oldZone_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool hadZone_ = false;
  std::string oldZone_;
};

TEST_F(FormatLocalTimeTest, FormatsOfTheProgramInLocalTime) {
  struct Case {
    std::int64_t t;
    const char* format;
    const char* text;
  };
  const Case cases[] = {
      // 2025-12-09 09:35:18 UTC, winter time (+1)
      {1765272918, "%d.%m.%Y %H:%M:%S", "09.12.2025 10:35:18"},
      {1765272918, "%d.%m.%Y  %H:%M:%S", "09.12.2025  10:35:18"},
      {1765272918, "%M:%S", "35:18"},
      {1765272918, "%Y-%m-%d", "2025-12-09"},
      {1765272918, "%B %d, %Y at %H:%M:%S", "December 09, 2025 at 10:35:18"},
      {1765272918, "%a, %d %b %Y %H:%M:%S ", "Tue, 09 Dec 2025 10:35:18 "},
      // 2025-07-01 09:30:45 UTC, summer time (+2)
      {1751362245, "%d.%m.%Y %H:%M:%S", "01.07.2025 11:30:45"},
      {1751362245, "%B %d, %Y at %H:%M:%S", "July 01, 2025 at 11:30:45"},
      // leap day, the epoch and just before it
      {951782400, "%a, %d %b %Y %H:%M:%S ", "Tue, 29 Feb 2000 01:00:00 "},
      {0, "%d.%m.%Y %H:%M:%S", "01.01.1970 01:00:00"},
      {-1, "%B %d, %Y at %H:%M:%S", "January 01, 1970 at 00:59:59"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatLocalTime(c.t, c.format), c.text) << c.t << " with \"" << c.format << '"';
}

TEST_F(FormatLocalTimeTest, EmptyTextInsteadOfFailure) {
  EXPECT_EQ(FormatLocalTime(1765272918, nullptr), "");
  EXPECT_EQ(FormatLocalTime(1765272918, ""), "");

  // The buffer holds 127 bytes of text and its terminator.
  EXPECT_EQ(FormatLocalTime(0, std::string(127, 'x').c_str()), std::string(127, 'x'));
  EXPECT_EQ(FormatLocalTime(0, std::string(128, 'x').c_str()), "");
  EXPECT_EQ(FormatLocalTime(0, (std::string(120, 'x') + "%Y-%m-%d").c_str()), "");

  // Times whose year does not fit the calendar fields.
  for (std::int64_t t : {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
                         std::int64_t{1} << 62, -(std::int64_t{1} << 62)})
    EXPECT_EQ(FormatLocalTime(t, "%Y-%m-%d"), "") << t;
}

TEST_F(FormatLocalTimeTest, NamesStayEnglishUnderAGermanLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";

  // The process locale really is German ...
  std::time_t t = 1765272918;
  struct tm local;
  localtime_r(&t, &local);
  char german[64];
  std::strftime(german, sizeof german, "%B", &local);
  std::string germanMonth = german;

  // ... and still the names are the "C" locale's.
  std::string month = FormatLocalTime(t, "%B");
  std::string date = FormatLocalTime(t, "%a, %d %b %Y %H:%M:%S ");
  std::setlocale(LC_ALL, saved.c_str());

  EXPECT_EQ(germanMonth, "Dezember");
  EXPECT_EQ(month, "December");
  EXPECT_EQ(date, "Tue, 09 Dec 2025 10:35:18 ");
}

TEST_F(FormatLocalTimeTest, ConcurrentCallsKeepTheirOwnTimes) {
  // A shared conversion buffer would hand one thread another thread's time.
  const std::int64_t times[] = {1765272918, 1751362245, 951782400, 0};
  const char* texts[] = {"09.12.2025 10:35:18", "01.07.2025 11:30:45", "29.02.2000 01:00:00", "01.01.1970 01:00:00"};
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      for (int n = 0; n < 2000; ++n)
        if (FormatLocalTime(times[i], "%d.%m.%Y %H:%M:%S") != texts[i]) ++wrong[i];
    });
  for (auto& thread : threads) thread.join();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(wrong[i], 0) << texts[i];
}

}  // namespace
