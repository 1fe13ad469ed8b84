#pragma once
// Test support for the window: closing message boxes and dialogs that a run or a command opens
// (their nested event loop holds the test's own code until they close), small firmware files
// cut from the sample, and a per-test settings location.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace kestro::uitest {

// Polls for a modal message box or dialog and closes it the way a user would, recording what it
// showed. Runs inside the nested event loop of the box it closes.
class ModalCloser : public QObject {
  public:
    struct Seen {
        QString className;
        QString title;
        QString text;  // a message box's text; empty for other dialogs
        QString detail;  // what a message box shows beneath its text
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    explicit ModalCloser(QObject* parent = nullptr) : QObject(parent) {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start();
    }

    // Called with each box before it is closed, for checks while it is still open.
    void OnSeen(std::function<void(QWidget*)> check) { m_check = std::move(check); }

    const std::vector<Seen>& Boxes() const { return m_seen; }
    void Clear() { m_seen.clear(); }

  private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return;
        Seen seen;
        seen.className = QString::fromLatin1(modal->metaObject()->className());
        seen.title = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.text = box->text();
            seen.detail = box->informativeText();
            seen.icon = box->icon();
        }
        m_seen.push_back(seen);
        if (m_check) m_check(modal);
        if (!modal->isVisible()) return;  // the check closed it
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    }

    QTimer m_timer;
    std::vector<Seen> m_seen;
    std::function<void(QWidget*)> m_check;
};

// Runs the event loop until `condition` holds, checking it every few milliseconds; false when
// `timeoutMs` passed first. Unlike QTest::qWait, which sleeps between its turns of the loop, this
// serves every byte the port thread hands over as soon as it comes.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// How a message box shows one of the kit's texts: CR LF becomes a plain line break.
inline QString Shown(const char* text) {
    return QString::fromLatin1(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The first `lines` lines of the sample firmware (boot rows and the first application rows),
// closed by an end record: a valid, much shorter file.
// Saves a picture of `window`: on an X server the screen where it shows, with a window
// manager's frame; elsewhere the widget alone. SaveScreenPicture: the whole screen (on other
// platforms, the window).
bool SaveWindowPicture(QWidget* window, const QString& path);
bool SaveScreenPicture(QWidget* window, const QString& path);

bool WriteShortFirmware(const QString& samplePath, const QString& path, int lines);

// The lines of a text file without their CR LF.
QStringList FileLines(const QString& path);

}  // namespace kestro::uitest
