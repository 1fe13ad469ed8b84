#include "UiTestSupport.h"

#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace kestro::uitest {

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    if (condition()) return true;
    QEventLoop loop;
    QTimer poll;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(5);
    deadline.start(timeoutMs);
    loop.exec();
    return condition();
}

bool WriteShortFirmware(const QString& samplePath, const QString& path, int lines) {
    QFile sample(samplePath);
    QFile out(path);
    if (!sample.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) return false;
    for (int i = 0; i < lines && !sample.atEnd(); ++i) out.write(sample.readLine());
    out.write(":00000001FF\r\n");
    return true;
}

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
        lines << QString::fromLatin1(line);
    }
    return lines;
}


bool SaveWindowPicture(QWidget* window, const QString& path) {
    QCoreApplication::processEvents();
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return window->grab().save(path);
    const QRect frame = window->frameGeometry();
    return window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(path);
}

bool SaveScreenPicture(QWidget* window, const QString& path) {
    QCoreApplication::processEvents();
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return window->grab().save(path);
    return window->screen()->grabWindow(0).save(path);
}

}  // namespace kestro::uitest
