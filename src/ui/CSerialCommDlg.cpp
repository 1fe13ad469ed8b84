#include "ui/CSerialCommDlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "ui/DialogUnits.h"
#include "ui/UiFonts.h"
#include "ui/UiTexts.h"
#include "upgrade/PortSetting.h"

namespace kestro {
namespace {

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToLatin1(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The entry's port name ("COM33") is what is stored and compared; the list shows the device too.
constexpr int kPortNameRole = Qt::UserRole;

}  // namespace

QString PortComboBox::DisplayText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    return option.fontMetrics.elidedText(option.currentText, Qt::ElideMiddle, field.width());
}

void PortComboBox::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = DisplayText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

CSerialCommDlg::CSerialCommDlg(ISettings& settings, QWidget* parent, PortLister lister)
    : QDialog(parent), m_settings(settings), m_lister(std::move(lister)) {
    if (!m_lister) m_lister = [] { return ListPresentPorts(DefaultSysfsRoot()); };
    setObjectName(QStringLiteral("IDD_SERIAL_SETUP"));
    setWindowTitle(QString::fromLatin1(uitexts::kSetupCaption));
    setFont(DialogFont());
    BuildControls();
}

void CSerialCommDlg::BuildControls() {
    const DialogUnits du(font());
    setFixedSize(du.Size(204, 127));

    auto* ok = new QPushButton(QString::fromLatin1(uitexts::kOk), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    ok->setGeometry(du.Rect(27, 95, 50, 17));
    connect(ok, &QPushButton::clicked, this, &CSerialCommDlg::OnOK);

    auto* cancel = new QPushButton(QString::fromLatin1(uitexts::kCancel), this);
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    cancel->setAutoDefault(false);
    cancel->setGeometry(du.Rect(120, 95, 50, 17));
    connect(cancel, &QPushButton::clicked, this, &CSerialCommDlg::OnCancel);

    auto* group = new QGroupBox(QString::fromLatin1(uitexts::kSetupGroup), this);
    group->setGeometry(du.Rect(17, 14, 168, 72));

    m_autoDetectButton = new QCheckBox(QString::fromLatin1(uitexts::kAutoDetect), this);
    m_autoDetectButton->setObjectName(QStringLiteral("IDC_AUTO_DETECT"));
    m_autoDetectButton->setLayoutDirection(Qt::RightToLeft);  // the text left of the box
    // As wide as its text and box, so that the text starts at x = 34 like the labels below it
    // (a wider control would push the text right, against the box).
    const QRect autoRect = du.Rect(34, 31, 91, 11);
    m_autoDetectButton->setGeometry(autoRect.x(), autoRect.y(),
                                    std::min(autoRect.width(), m_autoDetectButton->sizeHint().width()),
                                    autoRect.height());
    QStyleOptionButton option;
    option.initFrom(m_autoDetectButton);
    option.text = m_autoDetectButton->text();
    const QRect text = m_autoDetectButton->style()->subElementRect(QStyle::SE_CheckBoxContents,
                                                                   &option, m_autoDetectButton);
    // Right to left, the text is drawn against the right end of its area.
    const int textLeft = text.right() + 1 - option.fontMetrics.horizontalAdvance(option.text);
    m_autoDetectButton->move(autoRect.x() - std::max(0, textLeft), autoRect.y());
    connect(m_autoDetectButton, &QCheckBox::clicked, this, &CSerialCommDlg::OnAutoDetectClicked);

    m_portLabel = new QLabel(QString::fromLatin1(uitexts::kSelectPort), this);
    m_portLabel->setObjectName(QStringLiteral("IDC_PORT_LABEL"));
    m_portLabel->setGeometry(du.Rect(34, 48, 57, 12));

    // The template's height includes the dropped list; the closed box is as high as its font.
    m_portCombo = new PortComboBox(this);
    m_portCombo->setObjectName(QStringLiteral("IDC_PORT_COMBO"));
    m_portCombo->setEditable(false);
    // Wider than the template's 53 units, up to the group's right edge: entries name a device too.
    const QRect comboRect = du.Rect(116, 46, 64, 70);
    m_portCombo->setGeometry(comboRect.x(), comboRect.y(), comboRect.width(),
                             m_portCombo->sizeHint().height());
    m_portCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(m_portCombo, &QComboBox::currentIndexChanged, m_portCombo,
            [combo = m_portCombo] { combo->setToolTip(combo->currentText()); });

    auto* baud = new QLabel(QString::fromLatin1(uitexts::kBaudRate), this);
    baud->setObjectName(QStringLiteral("IDC_BAUD_LABEL"));
    baud->setGeometry(du.Rect(34, 64, 83, 12));

    // The tab order of the template: OK, Cancel, the box, the list.
    setTabOrder(ok, cancel);
    setTabOrder(cancel, m_autoDetectButton);
    setTabOrder(m_autoDetectButton, m_portCombo);

    DoDataExchange(false);
}

int CSerialCommDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CSerialCommDlg::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        m_autoDetect = m_autoDetectButton->isChecked() ? 1 : 0;
    } else {
        m_autoDetectButton->setChecked(m_autoDetect == 1);
    }
}

void CSerialCommDlg::FillPortList() {
    for (const PortEntry& port : m_lister()) {
        m_portCombo->addItem(Latin1(port.label.empty() ? port.name : port.label),
                             Latin1(port.name));
    }
    // The dropped list is as wide as its longest entry, however narrow the box.
    if (m_portCombo->count() > 0) {
        m_portCombo->view()->setMinimumWidth(m_portCombo->view()->sizeHintForColumn(0) + 8);
    }
}

void CSerialCommDlg::EnablePortChoice(bool enable) {
    m_portCombo->setEnabled(enable);
    m_portLabel->setEnabled(enable);
}

bool CSerialCommDlg::OnInitDialog() {
    DoDataExchange(false);  // the box starts checked
    m_autoSetting = m_settings.GetString(kSettingsSection, kAutoValue);
    m_comSetting = m_settings.GetString(kSettingsSection, kComValue);

    m_portCombo->clear();
    FillPortList();

    if (!m_autoSetting.empty() && m_autoSetting != uitexts::kYes) {
        m_autoDetectButton->setChecked(false);
        EnablePortChoice(true);
    } else {
        // Written at once: it stays even when the dialog is cancelled.
        if (m_autoSetting.empty())
            m_settings.SetString(kSettingsSection, kAutoValue, uitexts::kYes);
        m_autoDetectButton->setChecked(true);
        EnablePortChoice(false);
    }

    int selection = m_portCombo->count() > 0 ? 0 : -1;
    if (!m_comSetting.empty()) {
        selection = m_portCombo->findData(Latin1(m_comSetting), kPortNameRole,
                                          Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (selection < 0) {
            // A saved port that is absent now (its cable unplugged) stays the choice: OK without
            // a change must not replace it with whatever port happens to be first.
            m_portCombo->addItem(Latin1(m_comSetting + uitexts::kNotPresentSuffix),
                                 Latin1(m_comSetting));
            selection = m_portCombo->count() - 1;
        }
    }
    m_portCombo->setCurrentIndex(selection);
    return true;
}

void CSerialCommDlg::OnAutoDetectClicked() {
    DoDataExchange(true);
    EnablePortChoice(m_autoDetect != 1);
}

void CSerialCommDlg::OnOK() {
    DoDataExchange(true);
    const int selection = m_portCombo->currentIndex();
    if (selection < 0) {
        // No port to take the name of: nothing is stored, and the user is told why.
        QMessageBox::warning(this, QString::fromLatin1(uitexts::kApplicationName),
                             QString::fromLatin1(uitexts::kNoPortToStore));
        QDialog::accept();
        return;
    }
    m_comSetting = ToLatin1(m_portCombo->itemData(selection, kPortNameRole).toString());
    m_settings.SetString(kSettingsSection, kAutoValue,
                         m_autoDetect == 1 ? uitexts::kYes : uitexts::kNo);
    m_settings.SetString(kSettingsSection, kComValue, m_comSetting);
    QDialog::accept();
}

void CSerialCommDlg::OnCancel() { QDialog::reject(); }

}  // namespace kestro
