#pragma once
// The fonts the kit's templates name, with a fall-back where the system lacks them: the form's
// "Microsoft Sans Serif" 10 pt and the dialogs' "MS Shell Dlg" 8 pt, else the system's own font
// at the same size.

#include <QFont>

namespace kestro {

QFont FormFont();
QFont DialogFont();

}  // namespace kestro
