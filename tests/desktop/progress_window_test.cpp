// The progress window without a server: where windows open, the keys it
// ignores, texts that reach it from a worker thread, and the hand-over of the
// request whichever side ends second.

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>

#include "desktop/middle_elided_label.h"
#include "desktop/progress_window.h"
#include "tests/desktop/desktop_test_support.h"

namespace vaultwick::test {

class ProgressWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QCOMPARE(openProgressWindows, 0); }

  // Two columns from the top left corner, by the number of windows open.
  void WindowsOpenInTwoColumns() {
    std::atomic<int> frees{0};
    QList<BackupRequest*> requests;
    QList<CFtpDown*> windows;
    auto open = [&] {
      requests.append(new CountedRequest(frees));
      windows.append(CFtpDown::Open(requests.back()));
    };
    for (int i = 0; i < 3; ++i) {
      open();
    }
    const QPoint origin = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
    const QSize outer = windows[0]->frameGeometry().size();
    QCOMPARE(windows[0]->frameGeometry().topLeft(), origin);
    QCOMPARE(windows[1]->frameGeometry().topLeft(), origin + QPoint(outer.width(), 0));
    QCOMPARE(windows[2]->frameGeometry().topLeft(), origin + QPoint(0, outer.height()));
    QCOMPARE(windows[0]->windowTitle(), QString("Download status"));
    QCOMPARE(windows[0]->StatusText(), QString("Connecting..."));
    QVERIFY(windows[0]->windowFlags() & Qt::WindowStaysOnTopHint);

    // With one closed the count is 2: a new window takes slot 2 again.
    windows[0]->close();
    open();
    QCOMPARE(windows[3]->frameGeometry().topLeft(), origin + QPoint(0, outer.height()));
    for (CFtpDown* window : windows.mid(1)) {
      window->close();
    }
    QCOMPARE(openProgressWindows, 0);
    // No job had finished: the windows leave the requests to their jobs.
    QCOMPARE(frees.load(), 0);
    for (BackupRequest* request : requests) {
      QVERIFY(MarkJobFinished(*request));
      delete request;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  void EscapeAndEnterDoNotClose() {
    std::atomic<int> frees{0};
    auto* request = new CountedRequest(frees);
    CFtpDown* window = CFtpDown::Open(request);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::keyClick(window, Qt::Key_Escape);
    QTest::keyClick(window, Qt::Key_Return);
    QVERIFY(window->isVisible());
    QVERIFY(!MarkJobFinished(*request));
    window->close();
    QCOMPARE(frees.load(), 1);
  }

  // Texts come from the worker thread without waiting for the window; they
  // arrive in order, and once the window is closed they have no effect.
  void WorkerTextsArriveInOrderUntilClosed() {
    std::atomic<int> frees{0};
    auto* request = new CountedRequest(frees);
    QPointer<CFtpDown> window = CFtpDown::Open(request);
    std::shared_ptr<StatusTextPort> port = request->progressWindow;
    std::thread worker([port] {
      for (int i = 0; i < 100; ++i) {
        port->SetStatusText("step " + std::to_string(i));
      }
    });
    worker.join();
    QTRY_COMPARE(window->StatusText(), QString("step 99"));
    window->close();
    port->SetStatusText("after close");
    QTRY_VERIFY(window.isNull());
    // The job ends after the window: it is the job that frees the request.
    QCOMPARE(frees.load(), 0);
    QVERIFY(MarkJobFinished(*request));
    delete request;
    QCOMPARE(frees.load(), 1);
  }

  void LongTextsLoseTheirMiddle() {
    MiddleElidedLabel label("Connecting...");
    label.resize(120, 20);
    const QString path = "SELECT * FROM `a_table_with_a_very_long_name_that_does_not_fit`";
    label.setText(path);
    QCOMPARE(label.text(), path);
    const QString shown = label.shownText();
    QVERIFY(shown.startsWith("SEL"));
    QVERIFY(shown.endsWith("fit`"));
    QVERIFY(shown.contains(QChar(0x2026)));
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::ProgressWindowTest)
#include "progress_window_test.moc"
