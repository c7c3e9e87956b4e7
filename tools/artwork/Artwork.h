// The wizard's pictures, glyphs and icons, drawn here so that the program carries
// artwork of its own. The PNG files they are saved to are kept with the forms.
#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace kp::artwork {

struct Piece {
    QString path; // under the forms folder
    QImage image;
};

// Every picture at the size the form shows it.
std::vector<Piece> AllPieces();

} // namespace kp::artwork
