// Writes the kit's application icon, as the window draws it, into a Windows .ico file: one PNG
// image per size, which Windows reads since Vista. The .ico is kept in res/windows/ and embedded
// in the Windows programs; run this again when the artwork changes:
//   build/dev/bin/kestro-make-icon res/windows/kestro.ico

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QPixmap>
#include <cstdio>
#include <vector>

#include "ui/Artwork.h"

namespace {

void PutLe(QByteArray& out, unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(char((value >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestro-make-icon <file.ico>\n");
        return 2;
    }
    const std::vector<int> sizes{16, 24, 32, 48, 64, 256};
    std::vector<QByteArray> images;
    for (const int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!kestro::ApplicationPixmap(size).toImage().save(&buffer, "PNG")) return 1;
        images.push_back(png);
    }
    // ICONDIR, then one ICONDIRENTRY per image, then the images.
    QByteArray ico;
    PutLe(ico, 0, 2);
    PutLe(ico, 1, 2);  // an icon
    PutLe(ico, unsigned(sizes.size()), 2);
    unsigned offset = 6 + 16 * unsigned(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const unsigned side = sizes[i] >= 256 ? 0 : unsigned(sizes[i]);  // 0 stands for 256
        PutLe(ico, side, 1);
        PutLe(ico, side, 1);
        PutLe(ico, 0, 1);   // no palette
        PutLe(ico, 0, 1);
        PutLe(ico, 1, 2);   // planes
        PutLe(ico, 32, 2);  // bits per pixel
        PutLe(ico, unsigned(images[i].size()), 4);
        PutLe(ico, offset, 4);
        offset += unsigned(images[i].size());
    }
    for (const QByteArray& image : images) ico.append(image);
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size()) {
        std::fprintf(stderr, "kestro-make-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
