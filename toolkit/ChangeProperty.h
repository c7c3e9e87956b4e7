#pragma once

namespace kp {

// Stores `value` in a property's field and says whether that changed it, for the
// setters that act only when the value really changes.
template <typename T> bool ChangeProperty(T& field, const T& value) {
    if (field == value) {
        return false;
    }
    field = value;
    return true;
}

} // namespace kp
