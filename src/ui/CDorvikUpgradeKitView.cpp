#include "ui/CDorvikUpgradeKitView.h"

#include <QAction>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "ui/CProgressEx.h"
#include "ui/CSerialCommDlg.h"
#include "ui/DialogUnits.h"
#include "ui/UiFonts.h"
#include "ui/UiTexts.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Texts.h"

namespace kestro {
namespace {

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Runs `then` once `owner` is on the screen (mapped, so that a window manager has placed and
// framed it), on the next pass of the event loop; at once if it already is.
class WhenMapped final : public QObject {
  public:
    WhenMapped(QWidget* owner, std::function<void()> then) : QObject(owner), m_owner(owner), m_then(std::move(then)) {
        Watch();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_owner && event->type() == QEvent::Show) {
            Watch();
        } else if (event->type() == QEvent::Expose && Mapped()) {
            Fire();
        }
        return false;
    }

  private:
    bool Mapped() const { return m_owner->windowHandle() != nullptr && m_owner->windowHandle()->isExposed(); }
    void Watch() {
        if (Mapped()) {
            Fire();
            return;
        }
        // The window exists from the owner's first show on; its exposure comes to it, not to the
        // widget.
        if (QWindow* window = m_owner->windowHandle()) window->installEventFilter(this);
        m_owner->installEventFilter(this);
    }
    void Fire() {
        if (m_fired) return;
        m_fired = true;
        QTimer::singleShot(0, m_owner, std::move(m_then));
        deleteLater();
    }

    QWidget* m_owner;
    std::function<void()> m_then;
    bool m_fired = false;
};

CUpgradeHub::Options OwnedBy(CUpgradeHub::Options options, IPortOwner* owner) {
    options.portOwner = owner;
    return options;
}

QMessageBox::Icon BoxIcon(Icon icon) {
    switch (icon) {
        case Icon::Error:
            return QMessageBox::Critical;
        case Icon::Warning:
            return QMessageBox::Warning;
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::None:
            return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

constexpr int kRunWatchMs = 50;

}  // namespace

CDorvikUpgradeKitView::CDorvikUpgradeKitView(ISettings& settings, CUpgradeHub::Options options,
                                             QWidget* parent)
    : QWidget(parent),
      m_settings(settings),
      m_hub(*this, settings, OwnedBy(std::move(options), this)) {
    setObjectName(QStringLiteral("IDD_UPGRADE_FORM"));
    setFont(FormFont());
    BuildForm();

    // The form takes the keyboard focus, so that the recovery key reaches it.
    setFocusPolicy(Qt::StrongFocus);
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

    m_runWatch = new QTimer(this);
    m_runWatch->setInterval(kRunWatchMs);
    connect(m_runWatch, &QTimer::timeout, this, [this] {
        if (m_hub.UpgradeRunning()) return;
        m_runWatch->stop();
        SyncUpgradeEnabled();
        HintAfterRun();
    });
}

CDorvikUpgradeKitView::~CDorvikUpgradeKitView() {
    m_runWatch->stop();
    // A worker in a report and a port thread delivering a byte are let go at once; whatever
    // they send from now on is dropped. Only then is it safe to wait for them.
    m_bridge.Close();
    if (m_hub.UpgradeRunning()) m_hub.RequestStop();
    m_hub.JoinWorker();
}

void CDorvikUpgradeKitView::BuildForm() {
    const DialogUnits du(font());
    setFixedSize(du.Size(kFormWidth, kFormHeight));

    auto staticText = [&](const char* text, int x, int y, int width, int height) {
        auto* label = new QLabel(QString::fromLatin1(text), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(du.Rect(x, y, width, height));
        return label;
    };
    auto versionBox = [&](const char* name, int x, int y, int width, int height) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setReadOnly(true);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setFocusPolicy(Qt::NoFocus);
        // Read-only boxes show the form's own ground, as the platform's read-only edits do.
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        edit->setPalette(palette);
        edit->setGeometry(du.Rect(x, y, width, height));
        return edit;
    };

    // Created in the template's order, which is also the drawing order.
    staticText(uitexts::kWelcome, 24, 17, 191, 12)->setObjectName(QStringLiteral("Welcome"));
    auto* group = new QGroupBox(QString::fromLatin1(uitexts::kDescription), this);
    group->setGeometry(du.Rect(24, 36, 191, 55));
    m_progress = new CProgressEx(this);
    m_progress->setObjectName(QStringLiteral("IDC_UPGRADE_PROGRESS"));
    m_progress->setGeometry(du.Rect(24, 120, 191, 11));
    m_statusLine = staticText(texts::kStartTheUpgrade, 24, 104, 191, 11);
    m_statusLine->setObjectName(QStringLiteral("IDC_STATUS"));
    staticText(uitexts::kFirmwareVersionLabel, 39, 54, 111, 12);
    staticText(uitexts::kCodeplugVersionLabel, 39, 71, 108, 12);
    m_codeplugVersionEdit = versionBox("IDC_CODEPLUG_VERSION", 153, 71, 42, 12);
    m_firmwareVersionEdit = versionBox("IDC_FIRMWARE_VERSION", 153, 54, 42, 12);
    m_firmwareVersionEdit->setAccessibleName(QString::fromLatin1(uitexts::kFirmwareVersionName));
    m_codeplugVersionEdit->setAccessibleName(QString::fromLatin1(uitexts::kCodeplugVersionName));
}

void CDorvikUpgradeKitView::OnInitialUpdate() {
    m_progress->SetDrawMode(CProgressEx::kTwoColourMode);
    m_progress->hide();
    m_hub.ResetRunFlags();
    m_hub.SetRecoveryMode(false);
    m_firmwareVersionEdit->setText(QString::fromLatin1(texts::kKitFirmwareVersion));
    m_codeplugVersionEdit->setText(QString::fromLatin1(texts::kKitCodeplugVersion));
    m_hub.OnInitialUpdate();
    RestoreRememberedRecovery();
}

void CDorvikUpgradeKitView::RestoreRememberedRecovery() {
    std::string note;
    const int port = m_hub.PortForNextRun();
    const RecoveryRecord next = CUpgradeHub::PortKey(port);
    const auto here = m_hub.RecordsFor(next, &note);
    if (!note.empty()) emit StatusHint(Latin1(note));
    QString text;
    if (!here.empty() && CUpgradeHub::HeldElsewhere(next)) {
        text = QString::fromLatin1(uitexts::kRecoveryRunInProgress).arg(Latin1(next.Describe()));
    } else if (!here.empty()) {
        // Only a record of the port that the next Upgrade opens arms it; the newest names the
        // radio most likely on the cable. That record goes once its radio is finished.
        m_hub.ArmFromRecord(here.back());
        text = QString::fromLatin1(uitexts::kRecoveryRemembered)
                   .arg(Latin1(DescribeRadios(here)), Latin1(here.back().SinceText()));
    } else {
        const auto all = m_hub.RecoveryRecords().All();
        if (all.empty()) return;
        const RecoveryRecord& record = all.back();
        const QString opened = Latin1(CUpgradeHub::PortKey(port).Describe());
        if (PortNumberFromSettings(m_settings) == 0) {
            const QString cable = port > 0 ? QString::fromLatin1(uitexts::kCableOnPort).arg(opened)
                                           : QString::fromLatin1(uitexts::kNoCableFound);
            text = QString::fromLatin1(uitexts::kRecoveryElsewhereAuto)
                       .arg(Latin1(record.RadioText()), Latin1(record.SinceText()), cable,
                            Latin1(record.portName.empty() ? record.Describe() : record.portName));
        } else {
            text = QString::fromLatin1(uitexts::kRecoveryElsewhereFixed)
                       .arg(Latin1(record.RadioText()), Latin1(record.SinceText()), opened,
                            Latin1(record.portName.empty() ? record.Describe() : record.portName));
        }
    }
    // Not modal: the user may read it at leisure. A child of the main window, centred on it.
    auto* notice = new QMessageBox(QMessageBox::Information,
                                   QString::fromLatin1(uitexts::kRecoveryRememberedTitle), text,
                                   QMessageBox::Ok, window());
    notice->setObjectName(QStringLiteral("RecoveryNotice"));
    notice->setTextFormat(Qt::PlainText);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    m_recoveryNotice = notice;
    // Once the main window is on the screen: before that, a window manager has not placed it,
    // and the notice would be centred on where it was not.
    new WhenMapped(window(), [notice = QPointer<QMessageBox>(notice)] {
        if (notice == nullptr) return;
        notice->open();
        notice->adjustSize();
        if (QWidget* owner = notice->parentWidget()) {
            const QRect area = owner->window()->frameGeometry();
            notice->move(area.center() - QPoint(notice->width() / 2, notice->height() / 2));
        }
    });
}

void CDorvikUpgradeKitView::HintAfterRun() {
    // Communication Error #1 ends only a detection: the radio said nothing at all.
    if (m_hub.LastOutcome() == RunOutcome::Failed && m_hub.LastMessage() == texts::kCommError1) {
        emit StatusHint(QString::fromLatin1(uitexts::kSilentRadioHint));
    }
}

void CDorvikUpgradeKitView::SetUpgradeAction(QAction* action) {
    m_upgradeAction = action;
    SyncUpgradeEnabled();
}

bool CDorvikUpgradeKitView::OnUpdateFileUpgrade() {
    const bool enabled = m_hub.UpgradeRunningFlag() == 0;
    if (m_upgradeAction != nullptr) m_upgradeAction->setEnabled(enabled);
    if (enabled) SetStatusText(texts::kStartTheUpgrade);
    return enabled;
}

void CDorvikUpgradeKitView::SyncUpgradeEnabled() {
    if (m_upgradeAction != nullptr) m_upgradeAction->setEnabled(m_hub.UpgradeRunningFlag() == 0);
    // Whoever set the flag, the indicator shows it once the run is over.
    emit RecoveryModeShown(RecoveryArmed());
}

void CDorvikUpgradeKitView::OnUpgrade() {
    if (!OnUpdateFileUpgrade()) return;  // a disabled command is dropped
    emit StatusHint(QString());
    if (m_hub.OnUpgrade() == StartResult::Started) m_runWatch->start();
    // No status reset here: a failed load or open keeps its text until the next refresh.
    SyncUpgradeEnabled();
}

void CDorvikUpgradeKitView::OnSystemSetup() {
    CSerialCommDlg dialog(m_settings, window());
    dialog.DoModal();
}

bool CDorvikUpgradeKitView::RunInProgress() const { return m_hub.UpgradeRunning(); }

bool CDorvikUpgradeKitView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        // Key events reach a widget only while it has the focus: here, the form or its control.
        PreTranslateMessage(event);
    }
    return QWidget::eventFilter(watched, event);
}

void CDorvikUpgradeKitView::PreTranslateMessage(QEvent* event) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_U) return;
    const Qt::KeyboardModifiers held = key->modifiers();
    if ((held & Qt::ControlModifier) && (held & Qt::AltModifier) && !(held & Qt::ShiftModifier)) {
        m_hub.SetRecoveryMode(true);
    }
}

void CDorvikUpgradeKitView::SetStatusText(const std::string& text) {
    m_bridge.Invoke([this, text] { m_statusLine->setText(Latin1(text)); });
}

void CDorvikUpgradeKitView::SetProgressText(const std::string& label) {
    m_progress->SetText(label);  // stores only, under the bar's own lock
}

void CDorvikUpgradeKitView::SetProgress(int position) {
    m_bridge.Invoke([this, position] { m_progress->SetPos(position); });
}

void CDorvikUpgradeKitView::ShowProgress(bool show) {
    m_bridge.Invoke([this, show] { m_progress->setVisible(show); });
}

void CDorvikUpgradeKitView::MessageBox(const std::string& text, TitleKind title, Icon icon) {
    m_bridge.Invoke([this, text, title, icon] { ShowMessageBoxNow(text, title, icon); });
}

void CDorvikUpgradeKitView::MessageBoxWithDetail(const std::string& text, TitleKind title,
                                                 Icon icon, const std::string& detail) {
    m_bridge.Invoke([this, text, title, icon, detail] { ShowMessageBoxNow(text, title, icon, detail); });
}

void CDorvikUpgradeKitView::Guide(Guidance /*kind*/, const std::string& text) {
    m_bridge.Invoke([this, text] { emit StatusHint(Latin1(text)); });
}

void CDorvikUpgradeKitView::RecoveryModeChanged(bool armed) {
    m_bridge.Invoke([this, armed] { emit RecoveryModeShown(armed); });
}

void CDorvikUpgradeKitView::ShowMessageBoxNow(const std::string& text, TitleKind title, Icon icon,
                                              const std::string& detail) {
    // The kit's texts break lines with CR LF; the label breaks at LF alone.
    QString shown = Latin1(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(BoxIcon(icon), QString::fromLatin1(TitleText(title)), shown, QMessageBox::Ok,
                    window());
    box.setTextFormat(Qt::PlainText);
    // The kit's own text stays as it is; what the kit knows of the cause goes beneath it.
    if (!detail.empty()) box.setInformativeText(Latin1(detail));
    box.exec();
}

void CDorvikUpgradeKitView::OnSerialRxChar(std::uint8_t byte, int portNumber) {
    m_bridge.Invoke([this, byte, portNumber] { m_hub.OnSerialRxChar(byte, portNumber); });
}

void CDorvikUpgradeKitView::OnPortError(const std::string& text, int portNumber) {
    // The port thread need not wait while the user reads the box: it may be asked to stop.
    m_bridge.Post([this, text, portNumber] { m_hub.OnPortError(text, portNumber); });
}

}  // namespace kestro
