#include "ui/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/Artwork.h"
#include "ui/DialogUnits.h"
#include "ui/UiFonts.h"
#include "ui/UiTexts.h"

namespace kestro {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setWindowTitle(QString::fromLatin1(uitexts::kAboutTitle));
    setWindowIcon(ApplicationIcon());
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(267, 109));

    // An icon control shows the icon at its own size from the template's top-left corner.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("AboutIcon"));
    icon->setPixmap(ApplicationPixmap(32));
    const QRect iconRect = du.Rect(14, 14, 20, 20);
    icon->setGeometry(iconRect.x(), iconRect.y(), 32, 32);

    auto* name = new QLabel(QString::fromLatin1(uitexts::kAboutName), this);
    name->setObjectName(QStringLiteral("AboutName"));
    name->setTextFormat(Qt::PlainText);
    name->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    name->setGeometry(du.Rect(43, 15, 189, 9));

    auto* version = new QLabel(QString::fromLatin1(uitexts::kAboutVersion), this);
    version->setObjectName(QStringLiteral("AboutVersion"));
    version->setTextFormat(Qt::PlainText);
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    version->setGeometry(du.Rect(43, 34, 209, 13));

    auto* ok = new QPushButton(QString::fromLatin1(uitexts::kOk), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    ok->setGeometry(du.Rect(186, 76, 59, 15));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kestro
