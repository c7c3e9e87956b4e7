#include "ScreenCursors.h"

#include <map>

namespace kp {

namespace {

std::map<int, QCursor> BuiltInCursors() {
    return {
        {crDefault, QCursor(Qt::ArrowCursor)},
        {crNone, QCursor(Qt::BlankCursor)},
        {crArrow, QCursor(Qt::ArrowCursor)},
        {crCross, QCursor(Qt::CrossCursor)},
        {crIBeam, QCursor(Qt::IBeamCursor)},
        {crSizeNESW, QCursor(Qt::SizeBDiagCursor)},
        {crSizeNS, QCursor(Qt::SizeVerCursor)},
        {crSizeNWSE, QCursor(Qt::SizeFDiagCursor)},
        {crSizeWE, QCursor(Qt::SizeHorCursor)},
        {crUpArrow, QCursor(Qt::UpArrowCursor)},
        {crHourGlass, QCursor(Qt::WaitCursor)},
        {crDrag, QCursor(Qt::DragCopyCursor)},
        {crNoDrop, QCursor(Qt::ForbiddenCursor)},
        {crHSplit, QCursor(Qt::SplitHCursor)},
        {crVSplit, QCursor(Qt::SplitVCursor)},
        {crNo, QCursor(Qt::ForbiddenCursor)},
        {crAppStart, QCursor(Qt::BusyCursor)},
        {crHelp, QCursor(Qt::WhatsThisCursor)},
        {crHandPoint, QCursor(Qt::PointingHandCursor)},
        {crSizeAll, QCursor(Qt::SizeAllCursor)},
    };
}

std::map<int, QCursor>& CursorTable() {
    static std::map<int, QCursor> table = BuiltInCursors();
    return table;
}

} // namespace

QCursor ScreenCursor(int number) {
    const auto& table = CursorTable();
    const auto found = table.find(number);
    return found != table.end() ? found->second : table.at(crDefault);
}

void SetScreenCursor(int number, const QCursor& cursor) {
    CursorTable()[number] = cursor;
}

} // namespace kp
