// What the tray tip and notifications say about scheduled runs that ended
// while the window was away.

#include "desktop/tray_report.h"

#include <QtTest>

namespace vaultwick::test {
namespace {

JobEnded Ended(const std::string& name, BackupResult result, const std::string& endText,
               std::optional<VerifyRestoreOutcome> verified = std::nullopt) {
  BackupOutcome outcome;
  outcome.result = result;
  outcome.endText = endText;
  outcome.verifyRestore = std::move(verified);
  return JobEnded{name, JobOrigin::Schedule, outcome, {}, 0, {}};
}

}  // namespace

class TrayReportTest : public QObject {
  Q_OBJECT

 private slots:
  // A run that ends well after one that failed does not hide it; every
  // failure stays until the window is opened.
  void KeepsEveryFailureUntilCleared() {
    TrayReport report;
    QCOMPARE(report.Text(), QString());
    QVERIFY(!report.Add(Ended("shop", BackupResult::Complete, "Backup complete"), "09:00"));
    QCOMPARE(report.Text(), QString("shop: Backup complete"));

    const auto note =
        report.Add(Ended("big", BackupResult::SelectFailed, "Can't select database big"), "10:00");
    QVERIFY(note);
    QCOMPARE(note->title, QString("Backup of big"));
    QCOMPARE(note->text, QString("Can't select database big"));
    QVERIFY(!report.Add(Ended("shop", BackupResult::Complete, "Backup complete"), "10:00"));
    QCOMPARE(report.Text(),
             QString("1 of 3 backups failed at 10:00: big \u2014 Can't select database big"));

    QVERIFY(report.Add(JobEnded{"shop", JobOrigin::Schedule, std::nullopt, {}, 0, {}}, "11:00") ==
            std::nullopt);
    QVERIFY(report.Add(Ended("shop", BackupResult::ConnectFailed, "Can't connect"), "12:00"));
    QCOMPARE(report.Text(), QString("2 of 5 backups failed:\n"
                                    "10:00 big \u2014 Can't select database big\n"
                                    "12:00 shop \u2014 Can't connect"));
    report.Clear();
    QCOMPARE(report.Text(), QString());
  }

  // A placed archive whose test restore failed or differed, or that was not
  // copied off-site, is not reported as a complete backup, in the tip or the
  // notification; one that verified is.
  void ATestRestoreThatDidNotVerifyIsAFailure() {
    using Result = VerifyRestoreOutcome::Result;
    TrayReport report;
    QVERIFY(!report.Add(
        Ended("shop", BackupResult::Complete, "Backup complete", {{Result::Verified, ""}}),
        "09:00"));
    QCOMPARE(report.Text(), QString("shop: Backup complete"));
    const auto differs = report.Add(
        Ended("shop", BackupResult::Complete, "Backup complete", {{Result::Differs, "line 9"}}),
        "10:00");
    QVERIFY(differs);
    QCOMPARE(differs->text, QString("Archive placed, but its test restore did not verify: line 9"));
    QVERIFY(report.Add(Ended("shop", BackupResult::Complete, "Backup complete",
                             {{Result::Failed, "Access denied"}}),
                       "11:00"));
    QVERIFY(!report.Text().contains("Backup complete"));
    QVERIFY(report.Text().startsWith("2 of 3 backups failed:\n10:00 shop"));

    JobEnded notSent = Ended("shop", BackupResult::Complete, "Backup complete");
    notSent.offsiteFailure = "connection refused";
    const auto offsite = report.Add(notSent, "12:00");
    QVERIFY(offsite);
    QCOMPARE(offsite->text, QString("Archive placed, but not copied off-site: connection refused"));
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::TrayReportTest)
#include "tray_report_test.moc"
