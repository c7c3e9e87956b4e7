// kcab's progress: a redrawn bar with the current file on a terminal, a plain line
// per file elsewhere, nothing when quiet.
#pragma once

#include <ostream>
#include <string>

namespace kp {

class KcabProgress {
public:
    enum class Style { Bar, Lines, Quiet };

    KcabProgress(std::ostream& out, Style style, int width);

    // A block of `file` has been compressed; `overall` stays as last reported.
    void fileProgress(const std::string& file);
    // `file` has been handled and the run is `percent` done.
    void fileDone(const std::string& file, int percent);
    // Takes the bar off the line, before an error message or the summary.
    void clear();

private:
    void redraw();

    std::ostream& out;
    Style style;
    int width;
    int percent = 0;
    std::string file;
    std::string shown;
};

} // namespace kp
