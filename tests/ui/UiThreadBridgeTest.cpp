// The hand-over to the UI thread: calls run there and their callers wait for them, and closing
// lets every waiting caller go without running what is still queued.

#include <QThread>
#include <QtTest>
#include <atomic>
#include <thread>

#include "ui/UiThreadBridge.h"

using kestro::UiThreadBridge;

class UiThreadBridgeTest : public QObject {
    Q_OBJECT

  private slots:
    void callsRunOnTheUiThreadAndCallersWait() {
        UiThreadBridge bridge;
        QThread* uiThread = QThread::currentThread();
        QThread* ranOn = nullptr;
        std::atomic<bool> returned{false};
        bool result = false;
        std::jthread worker([&] {
            result = bridge.Invoke([&] { ranOn = QThread::currentThread(); });
            returned = true;
        });
        QThread::msleep(50);
        QVERIFY(!returned);  // nothing runs until the UI thread turns its loop
        QTRY_VERIFY(returned.load());
        worker.join();
        QVERIFY(result);
        QCOMPARE(ranOn, uiThread);

        // On the UI thread itself a call runs at once.
        bool ranHere = false;
        QVERIFY(bridge.Invoke([&] { ranHere = true; }));
        QVERIFY(ranHere);
    }

    void closeReleasesWaitersAndDropsQueuedCalls() {
        UiThreadBridge bridge;
        std::atomic<int> ran{0};
        std::atomic<int> released{0};
        std::vector<std::jthread> threads;
        for (int i = 0; i < 3; ++i) {
            threads.emplace_back([&] {
                if (!bridge.Invoke([&] { ++ran; })) ++released;
            });
        }
        bridge.Post([&] { ++ran; });
        QThread::msleep(50);  // the callers are now blocked; the UI thread has not run anything

        bridge.Close();  // without turning the event loop: no deadlock
        for (auto& thread : threads) thread.join();
        QCOMPARE(released.load(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(ran.load(), 0);

        // After closing nothing runs, on any thread, and nobody waits.
        QVERIFY(!bridge.Invoke([&] { ++ran; }));
        bool lateRan = true;
        std::jthread late([&] { lateRan = bridge.Invoke([&] { ++ran; }); });
        late.join();
        QVERIFY(!lateRan);
        bridge.Post([&] { ++ran; });
        QCoreApplication::processEvents();
        QCOMPARE(ran.load(), 0);
    }

    void destroyedBridgeDropsItsQueue() {
        std::atomic<int> ran{0};
        {
            UiThreadBridge bridge;
            std::jthread poster([&] { bridge.Post([&] { ++ran; }); });
            poster.join();
        }
        QCoreApplication::processEvents();
        QCOMPARE(ran.load(), 0);
    }
};

QTEST_MAIN(UiThreadBridgeTest)
#include "UiThreadBridgeTest.moc"
