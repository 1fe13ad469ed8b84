#pragma once
// The kit's own pictures, drawn in code: the Upgrade button (a green arrow pointing down onto a
// grey bar) and the application icon (a hand-held radio with the same arrow), in several sizes.

#include <QIcon>
#include <QPixmap>

namespace kestro {

// 32 x 32 pixels on a transparent ground, so the button face shows through.
QPixmap UpgradeButtonPixmap();
// 16, 24, 32 and 48 pixels.
QIcon ApplicationIcon();
QPixmap ApplicationPixmap(int size);

}  // namespace kestro
