#include "KcabProgress.h"

#include <algorithm>

namespace {

constexpr int kBarCells = 24;

// Keeps the end of a path, where the file's own name is, when the line is too narrow.
std::string fitFromLeft(const std::string& text, int room) {
    if (room <= 0) {
        return {};
    }
    if (static_cast<int>(text.size()) <= room) {
        return text;
    }
    if (room <= 3) {
        return text.substr(text.size() - room);
    }
    return "..." + text.substr(text.size() - (room - 3));
}

} // namespace

KcabProgress::KcabProgress(std::ostream& out, Style style, int width)
    : out(out), style(style), width(std::max(width, 40)) {}

void KcabProgress::fileProgress(const std::string& current) {
    if (style != Style::Bar || current == file) {
        return;
    }
    file = current;
    redraw();
}

void KcabProgress::fileDone(const std::string& current, int overall) {
    percent = overall;
    file = current;
    if (style == Style::Lines) {
        std::string number = std::to_string(std::clamp(overall, 0, 999));
        out << "[" << std::string(3 - std::min<std::size_t>(3, number.size()), ' ') << number
            << "%] " << current << '\n';
    } else if (style == Style::Bar) {
        redraw();
    }
}

void KcabProgress::clear() {
    if (style == Style::Bar && !shown.empty()) {
        out << '\r' << std::string(shown.size(), ' ') << '\r' << std::flush;
        shown.clear();
    }
}

void KcabProgress::redraw() {
    int filled = std::clamp(percent, 0, 100) * kBarCells / 100;
    std::string number = std::to_string(std::clamp(percent, 0, 999));
    // Appended piece by piece: GCC 12 at -O3 sees a false overlap in "text" + string.
    std::string line = "[";
    line.append(filled, '#').append(kBarCells - filled, '-').append("] ");
    line.append(3 - std::min<std::size_t>(3, number.size()), ' ').append(number).append("% ");
    line += fitFromLeft(file, width - 1 - static_cast<int>(line.size()));
    if (line == shown) {
        return;
    }
    std::string padding(shown.size() > line.size() ? shown.size() - line.size() : 0, ' ');
    out << '\r' << line << padding << std::flush;
    shown = line;
}
