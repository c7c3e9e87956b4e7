// What a form description asks of the toolkit beyond creating its controls.
#pragma once

class QWidget;

namespace kp {

// Sizes every label of form that carries the property "autoSize" to its text, as a
// label that sizes itself does: a right-aligned one keeps its right edge, the others
// their left edge. A label wider than its text would cover whatever lies beside it.
void AdjustAutoSizeLabels(QWidget* form);

// The form was laid out for a narrower font than most desktops' sans fonts. This keeps
// the form font's family and size and narrows it (its stretch, down to kNarrowestStretch)
// until the text of every control of fixed size fits: word-wrapped labels in their
// height, other labels, radio buttons and push buttons in their width. Labels that size
// themselves, and labels without text, do not count.
void NarrowFormFontToFit(QWidget* form);
inline constexpr int kNarrowestStretch = 75;

// Forms name the fonts of another desktop ("MS Sans Serif", "Times New Roman"); this
// maps the sans one to the desktop's own sans font, and leaves the serif one to the
// font configuration, which maps it to a metric twin or the desktop's serif font.
void SubstituteFormFonts();

} // namespace kp
