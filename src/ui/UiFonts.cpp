#include "ui/UiFonts.h"

#include <QFontDatabase>
#include <QString>
#include <initializer_list>

#include "ui/UiTexts.h"

namespace kestro {
namespace {

QFont FirstPresent(std::initializer_list<const char*> families, int points) {
    for (const char* family : families) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            QFont font(QString::fromLatin1(family), points, QFont::Normal);
            return font;
        }
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(points);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QFont FormFont() { return FirstPresent({uitexts::kFormFontFamily}, uitexts::kFormFontPoints); }

QFont DialogFont() {
    return FirstPresent({"MS Shell Dlg 2", "MS Shell Dlg", uitexts::kFormFontFamily},
                        uitexts::kDialogFontPoints);
}

}  // namespace kestro
