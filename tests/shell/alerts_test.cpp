#include <gtest/gtest.h>

#include "shell/alert.h"
#include "shell/alert_settings.h"
#include "shell/history.h"
#include "shell/run_alerts.h"

namespace vaultwick {
namespace {

HistoryRow RowOf(const char* result, const char* verified = "") {
  HistoryRow row;
  row.connection = "shop";
  row.result = result;
  row.verified = verified;
  return row;
}

TEST(RunAlertsTest, EveryRunIsToldOnlyWhenAlwaysAndADeclinedStartNever) {
  const HistoryRow good = RowOf("Complete");
  const HistoryRow differs = RowOf("Complete", "differs");
  for (AlertWhen when : {AlertWhen::Failures, AlertWhen::Always}) {
    SCOPED_TRACE(AlertWhenName(when));
    EXPECT_EQ(RunAlertEvent(differs, good, when), AlertEvent::Failure);
    EXPECT_EQ(RunAlertEvent(good, differs, when), AlertEvent::Recovery);
    EXPECT_EQ(RunAlertEvent(RowOf(kResultNotStarted), differs, when), std::nullopt);
  }
  EXPECT_EQ(RunAlertEvent(good, good, AlertWhen::Failures), std::nullopt);
  EXPECT_EQ(RunAlertEvent(good, std::nullopt, AlertWhen::Failures), std::nullopt);
  EXPECT_EQ(RunAlertEvent(good, good, AlertWhen::Always), AlertEvent::Success);
}

// An archive placed but not copied off-site fails the run for the alerts,
// which say why in rclone's last line; the next copied run recovers.
TEST(RunAlertsTest, AFailedOffsiteCopyIsAFailure) {
  HistoryRow notSent = RowOf("Complete");
  notSent.endText = "Backup complete";
  notSent.offsite = kOffsiteFailed;
  notSent.offsiteDetail = "not sent: shop-20261209T020000Z.zip\nconnection refused";
  HistoryRow copied = RowOf("Complete");
  copied.offsite = kOffsiteCopied;
  EXPECT_EQ(RunAlertEvent(notSent, copied, AlertWhen::Failures), AlertEvent::Failure);
  EXPECT_EQ(RunAlertEvent(copied, notSent, AlertWhen::Failures), AlertEvent::Recovery);

  const Alert alert = AlertOfRun(AlertEvent::Failure, notSent, "/backups");
  EXPECT_EQ(alert.offsite, false);
  EXPECT_EQ(AlertOfRun(AlertEvent::Success, RowOf("Complete"), "").offsite, std::nullopt);
  EXPECT_NE(AlertText(alert).find("(not copied off-site: connection refused)"), std::string::npos)
      << AlertText(alert);
}

TEST(RunAlertsTest, AHeaderOrUrlCannotSmuggleInALineOfItsOwn) {
  EXPECT_EQ(WebhookHeaderProblem("Authorization: Bearer x"), "");
  EXPECT_NE(WebhookHeaderProblem("X-A: 1\r\nX-B: 2"), "");
  EXPECT_NE(WebhookHeaderProblem("X A: 1"), "");
  EXPECT_NE(WebhookHeaderProblem(": 1"), "");
  EXPECT_NE(WebhookHeaderProblem("no colon"), "");
  EXPECT_EQ(WebhookUrlProblem("https://chat.example/hook?a=1"), "");
  EXPECT_NE(WebhookUrlProblem("file:///etc/passwd"), "");
  EXPECT_NE(WebhookUrlProblem("http://a/\nb"), "");
  EXPECT_NE(WebhookUrlProblem("https://"), "");
}

TEST(RunAlertsTest, TheTextIsOneLineWhateverTheCauseHolds) {
  HistoryRow row = RowOf("ErrorOccurred");
  row.endText = "Can't connect";
  row.cause = "line one\nline two";
  const Alert alert = AlertOfRun(AlertEvent::Failure, row, "/backups");
  EXPECT_EQ(alert.archive, "");  // no archive placed
  EXPECT_EQ(AlertText(alert).find('\n'), std::string::npos);
  EXPECT_NE(AlertText(alert).find("shop failed: Can't connect (line one line two)"),
            std::string::npos);
}

}  // namespace
}  // namespace vaultwick
