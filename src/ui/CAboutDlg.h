#pragma once
// The About box: the kit's icon, name, version and build date, and an OK button that closes it
// (as do Enter and Escape).

#include <QDialog>

namespace kestro {

class CAboutDlg final : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace kestro
