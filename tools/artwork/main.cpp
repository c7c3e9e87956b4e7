// Draws the wizard's artwork into a forms folder: make_artwork FORMS_FOLDER
#include "Artwork.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork FORMS_FOLDER\n");
        return 2;
    }
    const QDir forms(QString::fromLocal8Bit(argv[1]));
    for (const kp::artwork::Piece& piece : kp::artwork::AllPieces()) {
        const QString path = forms.filePath(piece.path);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!piece.image.save(path, "PNG")) {
            std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s %dx%d\n", qPrintable(piece.path), piece.image.width(),
                    piece.image.height());
    }
    return 0;
}
