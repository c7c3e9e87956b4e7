#include "Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>

namespace kp::artwork {
namespace {

const QColor kFolderBack(224, 176, 48);
const QColor kFolderFront(252, 220, 112);
const QColor kFolderEdge(128, 88, 8);
const QColor kPaper(255, 255, 255);
const QColor kPaperEdge(64, 64, 80);
const QColor kPaperFold(200, 200, 208);
const QColor kWriting(150, 160, 184);
const QColor kTreeLine(200, 232, 240, 190);
const QColor kSelection(255, 255, 255, 70);
const std::array<QColor, 4> kAccents = {QColor(40, 88, 200), QColor(32, 150, 72),
                                        QColor(200, 56, 40), QColor(232, 140, 24)};

QImage Blank(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The side pictures share one backdrop: deep blue at the top turning to teal, lit
// from the upper left.
void Backdrop(QPainter& painter, QSize size) {
    const QRectF area(QPointF(0, 0), size);
    QLinearGradient shade(0, 0, 0, size.height());
    shade.setColorAt(0, QColor(14, 36, 92));
    shade.setColorAt(1, QColor(0, 112, 124));
    painter.fillRect(area, shade);
    QRadialGradient light(QPointF(size.width() * 0.2, size.height() * 0.12), size.height() * 0.75);
    light.setColorAt(0, QColor(255, 255, 255, 56));
    light.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(area, light);
}

void Folder(QPainter& painter, const QRectF& r, bool open) {
    const qreal w = r.width();
    const qreal h = r.height();
    painter.setPen(QPen(kFolderEdge, 1));
    painter.setBrush(kFolderBack);
    QPainterPath back;
    back.moveTo(r.left(), r.top() + h * 0.12);
    back.lineTo(r.left() + w * 0.08, r.top());
    back.lineTo(r.left() + w * 0.36, r.top());
    back.lineTo(r.left() + w * 0.44, r.top() + h * 0.12);
    back.lineTo(r.right(), r.top() + h * 0.12);
    back.lineTo(r.right(), r.bottom());
    back.lineTo(r.left(), r.bottom());
    back.closeSubpath();
    painter.drawPath(back);
    if (open) {
        // A sheet peeks out of the open folder.
        painter.setBrush(kPaper);
        painter.drawRect(QRectF(r.left() + w * 0.14, r.top() + h * 0.2, w * 0.68, h * 0.5));
        painter.setBrush(kFolderFront);
        painter.drawPolygon(
            QPolygonF({QPointF(r.left() + w * 0.16, r.top() + h * 0.42),
                       QPointF(r.right() + w * 0.04, r.top() + h * 0.42),
                       QPointF(r.right(), r.bottom()), QPointF(r.left(), r.bottom())}));
    } else {
        painter.setBrush(kFolderFront);
        painter.drawRect(QRectF(r.left(), r.top() + h * 0.3, w, h * 0.7));
    }
}

void Sheet(QPainter& painter, const QRectF& r, const QColor& accent) {
    const qreal ear = r.width() * 0.28;
    painter.setPen(QPen(kPaperEdge, 1));
    painter.setBrush(kPaper);
    painter.drawPolygon(
        QPolygonF({r.topLeft(), QPointF(r.right() - ear, r.top()),
                   QPointF(r.right(), r.top() + ear), r.bottomRight(), r.bottomLeft()}));
    painter.setBrush(kPaperFold);
    painter.drawPolygon(
        QPolygonF({QPointF(r.right() - ear, r.top()), QPointF(r.right() - ear, r.top() + ear),
                   QPointF(r.right(), r.top() + ear)}));
    // A coloured mark for the kind of file, and lines of writing.
    const qreal margin = r.width() * 0.16;
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawRect(QRectF(r.left() + margin, r.top() + margin, r.width() * 0.3, r.width() * 0.3));
    painter.setBrush(kWriting);
    const qreal lineHeight = std::max<qreal>(1, r.height() * 0.05);
    for (int line = 0; line < 4; ++line) {
        const qreal y = r.top() + r.height() * (0.5 + line * 0.12);
        const qreal length = (line == 3 ? 0.45 : 0.68) * r.width();
        painter.drawRect(QRectF(r.left() + margin, y, length, lineHeight));
    }
}

// A two-drawer filing cabinet seen a little from above.
void Cabinet(QPainter& painter, const QRectF& r) {
    const qreal w = r.width();
    const qreal h = r.height();
    const qreal depth = h * 0.14;
    painter.setPen(QPen(QColor(40, 44, 64), std::max<qreal>(1, w / 32)));
    painter.setBrush(QColor(184, 192, 212));
    painter.drawPolygon(
        QPolygonF({QPointF(r.left(), r.top() + depth), QPointF(r.left() + depth, r.top()),
                   QPointF(r.right(), r.top()), QPointF(r.right() - depth, r.top() + depth)}));
    painter.setBrush(QColor(96, 104, 136));
    painter.drawPolygon(QPolygonF(
        {QPointF(r.right() - depth, r.top() + depth), QPointF(r.right(), r.top()),
         QPointF(r.right(), r.bottom() - depth), QPointF(r.right() - depth, r.bottom())}));
    const QRectF front(r.left(), r.top() + depth, w - depth, h - depth);
    QLinearGradient steel(front.topLeft(), front.bottomRight());
    steel.setColorAt(0, QColor(150, 162, 192));
    steel.setColorAt(1, QColor(112, 122, 156));
    painter.setBrush(steel);
    painter.drawRect(front);
    for (int drawer = 0; drawer < 2; ++drawer) {
        const qreal inset = front.width() * 0.1;
        const QRectF face(front.left() + inset,
                          front.top() + inset * 0.8 + drawer * front.height() / 2,
                          front.width() - 2 * inset, front.height() / 2 - inset * 1.6);
        painter.setBrush(QColor(168, 180, 208));
        painter.drawRect(face);
        painter.setBrush(kPaper);
        painter.drawRect(QRectF(face.center().x() - face.width() * 0.2,
                                face.top() + face.height() * 0.15, face.width() * 0.4,
                                face.height() * 0.25));
        painter.setBrush(QColor(64, 68, 88));
        painter.drawRect(QRectF(face.center().x() - face.width() * 0.16,
                                face.top() + face.height() * 0.6, face.width() * 0.32,
                                face.height() * 0.14));
    }
}

// Dotted lines of a folder tree: down from the parent, then across to the child.
// A transparent image of the given size painted by `draw` with smoothed edges.
template <typename Draw> QImage Painted(int width, int height, Draw draw) {
    QImage image = Blank(width, height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return image;
}

// A side picture: the common backdrop, then what `draw` paints on it.
template <typename Draw> QImage SidePicture(int width, int height, Draw draw) {
    return Painted(width, height, [&](QPainter& painter) {
        Backdrop(painter, QSize(width, height));
        draw(painter);
    });
}

void TreeLine(QPainter& painter, QPointF from, QPointF to) {
    painter.setPen(QPen(kTreeLine, 1, Qt::DotLine));
    painter.drawLine(from, QPointF(from.x(), to.y()));
    painter.drawLine(QPointF(from.x(), to.y()), to);
}

QImage TreePicture() {
    return SidePicture(159, 259, [](QPainter& painter) {
        struct Node {
            int depth;
            int row;
            bool open;
        };
        constexpr std::array<Node, 6> kNodes = {{{0, 0, true},
                                                 {1, 1, true},
                                                 {2, 2, false},
                                                 {2, 3, true},
                                                 {3, 4, false},
                                                 {1, 5, false}}};
        const auto place = [](const Node& node) {
            return QRectF(10 + node.depth * 26, 18 + node.row * 40, 40, 30);
        };
        // Each node hangs from the nearest node above it that is one level up.
        for (std::size_t i = 1; i < kNodes.size(); ++i) {
            std::size_t parent = i - 1;
            while (kNodes[parent].depth != kNodes[i].depth - 1) {
                --parent;
            }
            const QRectF from = place(kNodes[parent]);
            const QRectF to = place(kNodes[i]);
            TreeLine(painter, QPointF(from.left() + 12, from.bottom() + 2),
                     QPointF(to.left() - 3, to.center().y()));
        }
        for (const Node& node : kNodes) {
            Folder(painter, place(node), node.open);
        }
    });
}

QImage FolderPicture() {
    return SidePicture(156, 259, [](QPainter& painter) {
        const std::array<QRectF, 4> folders = {QRectF(8, 40, 34, 26), QRectF(26, 82, 34, 26),
                                               QRectF(26, 124, 34, 26), QRectF(8, 166, 34, 26)};
        TreeLine(painter, QPointF(18, 68), QPointF(23, 95));
        TreeLine(painter, QPointF(18, 68), QPointF(23, 137));
        TreeLine(painter, QPointF(14, 68), QPointF(14, 164));
        // The chosen folder stands out, and a bracket joins it to the files it holds.
        painter.setPen(Qt::NoPen);
        painter.setBrush(kSelection);
        painter.drawRoundedRect(folders[1].adjusted(-4, -4, 4, 4), 3, 3);
        for (std::size_t i = 0; i < folders.size(); ++i) {
            Folder(painter, folders[i], i <= 1);
        }
        painter.setPen(QPen(kTreeLine, 1.5));
        painter.drawLine(QPointF(64, 95), QPointF(76, 95));
        painter.drawLine(QPointF(76, 56), QPointF(76, 226));
        for (int row = 0; row < 4; ++row) {
            const qreal y = 52 + row * 48;
            painter.setPen(QPen(kTreeLine, 1.5));
            painter.drawLine(QPointF(76, y + 16), QPointF(82, y + 16));
            for (int column = 0; column < 2; ++column) {
                Sheet(painter, QRectF(86 + column * 34, y, 26, 33),
                      kAccents[static_cast<std::size_t>(row + column) % kAccents.size()]);
            }
        }
    });
}

QImage FilesPicture() {
    return SidePicture(153, 259, [](QPainter& painter) {
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 2; ++column) {
                const QRectF place(24 + column * 66, 20 + row * 60, 38, 48);
                if (row == 1 && column == 1) {
                    painter.setPen(Qt::NoPen);
                    painter.setBrush(kSelection);
                    painter.drawRoundedRect(place.adjusted(-6, -5, 6, 5), 3, 3);
                }
                Sheet(painter, place,
                      kAccents[static_cast<std::size_t>(row * 2 + column) % kAccents.size()]);
            }
        }
    });
}

QImage NeutralPicture() {
    return SidePicture(124, 260, [](QPainter& painter) {
        painter.setBrush(Qt::NoBrush);
        for (int ring = 0; ring < 7; ++ring) {
            painter.setPen(QPen(QColor(255, 255, 255, 36 - ring * 4), 5));
            const qreal radius = 40 + ring * 26;
            painter.drawEllipse(QPointF(124, 236), radius, radius);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 30));
        painter.drawEllipse(QPointF(30, 60), 18, 18);
        painter.drawEllipse(QPointF(70, 110), 10, 10);
        painter.drawEllipse(QPointF(40, 150), 6, 6);
    });
}

// Glyphs of the page buttons, drawn pixel by pixel as small toolbar glyphs are.
// A black-edged bar in `fill` with a lit top edge; the plus sign adds the upright.
QImage SignGlyph(const QColor& fill, const QColor& light, bool upright) {
    QImage image = Blank(14, 14);
    QPainter painter(&image);
    painter.fillRect(1, 4, 12, 6, Qt::black);
    if (upright) {
        painter.fillRect(4, 1, 6, 12, Qt::black);
    }
    painter.fillRect(2, 5, 10, 4, fill);
    if (upright) {
        painter.fillRect(5, 2, 4, 10, fill);
    }
    painter.fillRect(2, 5, 10, 1, light);
    if (upright) {
        painter.fillRect(5, 2, 1, 10, light);
    }
    return image;
}

QImage PlusGlyph() {
    return SignGlyph(QColor(0, 144, 0), QColor(96, 208, 96), true);
}

QImage MinusGlyph() {
    return SignGlyph(QColor(192, 0, 0), QColor(240, 96, 96), false);
}

QImage OpenFolderGlyph() {
    QImage image = Blank(18, 18);
    QPainter painter(&image);
    painter.setPen(kFolderEdge);
    painter.setBrush(kFolderBack);
    painter.drawPolygon(QPolygon({QPoint(1, 16), QPoint(1, 7), QPoint(2, 6), QPoint(5, 6),
                                  QPoint(6, 7), QPoint(12, 7), QPoint(12, 16)}));
    painter.setBrush(kFolderFront);
    painter.drawPolygon(QPolygon({QPoint(1, 16), QPoint(4, 10), QPoint(16, 10), QPoint(13, 16)}));
    // The arrow comes out of the folder, bending over to the right.
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath bend(QPointF(8.5, 9));
    bend.cubicTo(QPointF(8.5, 3), QPointF(11, 2), QPointF(14, 2.5));
    painter.setPen(QPen(QColor(0, 128, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(bend);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 128, 0));
    painter.drawPolygon(QPolygonF({QPointF(13, 0), QPointF(17.5, 2.7), QPointF(13, 5.5)}));
    return image;
}

QImage EraserGlyph() {
    return Painted(16, 16, [](QPainter& painter) {
        painter.translate(8, 8.5);
        painter.rotate(-40);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(QColor(232, 112, 136));
        painter.drawRect(QRectF(-2, -3, 9, 6));
        painter.setBrush(QColor(72, 96, 200));
        painter.drawRect(QRectF(-7, -3, 5, 6));
    });
}

// A disabled toolbar glyph: the shape in white one pixel down and right, and in
// grey on top of it, so that it looks etched into the button.
QImage Greyed(const QImage& glyph) {
    QImage image = Blank(glyph.width(), glyph.height());
    for (int pass = 0; pass < 2; ++pass) {
        const int shift = pass == 0 ? 1 : 0;
        const QColor ink = pass == 0 ? QColor(255, 255, 255) : QColor(128, 128, 128);
        for (int y = 0; y + shift < glyph.height(); ++y) {
            for (int x = 0; x + shift < glyph.width(); ++x) {
                const int alpha = qAlpha(glyph.pixel(x, y));
                if (alpha >= 96) {
                    image.setPixelColor(x + shift, y + shift, ink);
                }
            }
        }
    }
    return image;
}

QImage FilesIcon() {
    return Painted(32, 32, [](QPainter& painter) {
        Sheet(painter, QRectF(12.5, 1.5, 17, 22), kAccents[2]);
        Sheet(painter, QRectF(7.5, 4.5, 17, 22), kAccents[1]);
        Sheet(painter, QRectF(2.5, 8.5, 17, 22), kAccents[0]);
    });
}

QImage CabinetIcon(int size) {
    return Painted(size, size, [=](QPainter& painter) {
        const qreal unit = size / 32.0;
        Cabinet(painter, QRectF(3 * unit, 3 * unit, 26 * unit, 27 * unit));
    });
}

// The program's icon: a sheet dropping into the cabinet.
QImage ProgramIcon(int size) {
    return Painted(size, size, [=](QPainter& painter) {
        const qreal unit = size / 64.0;
        Cabinet(painter, QRectF(14 * unit, 20 * unit, 46 * unit, 42 * unit));
        painter.save();
        painter.translate(18 * unit, 14 * unit);
        painter.rotate(-18);
        Sheet(painter, QRectF(-10 * unit, -12 * unit, 20 * unit, 25 * unit), kAccents[0]);
        painter.restore();
        painter.setPen(QPen(QColor(40, 88, 200, 160), 2.5 * unit, Qt::SolidLine, Qt::RoundCap));
        for (int trail = 0; trail < 3; ++trail) {
            const qreal y = (8 + trail * 7) * unit;
            painter.drawLine(QPointF(2 * unit, y), QPointF(5 * unit, y + unit));
        }
    });
}

} // namespace

std::vector<Piece> AllPieces() {
    const QImage eraser = EraserGlyph();
    return {
        {"pictures/pAddTree.png", TreePicture()},
        {"pictures/pAddFolder.png", FolderPicture()},
        {"pictures/pAddFiles.png", FilesPicture()},
        {"pictures/pFinal.png", NeutralPicture()},
        {"glyphs/plus.png", PlusGlyph()},
        {"glyphs/minus.png", MinusGlyph()},
        {"glyphs/openfolder.png", OpenFolderGlyph()},
        {"glyphs/eraser.png", eraser},
        {"glyphs/eraser-greyed.png", Greyed(eraser)},
        {"icons/files32.png", FilesIcon()},
        {"icons/cabinet32.png", CabinetIcon(32)},
        {"icons/kpellix-48.png", ProgramIcon(48)},
        {"icons/kpellix-128.png", ProgramIcon(128)},
        {"icons/kpellix-256.png", ProgramIcon(256)},
    };
}

} // namespace kp::artwork
