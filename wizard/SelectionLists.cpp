#include "SelectionLists.h"

#include "StringConvert.h"

#include <QListWidget>

namespace kp {

namespace {

// The entry's own bytes; a name that is not valid text shows with replacement
// characters, from which its bytes could not be had back.
constexpr int kPathRole = Qt::UserRole;
constexpr int kEntryHeight = 13;

bool ShowsExactly(const QString& text, const std::string& path) {
    return PathFromQString(text) == path;
}

} // namespace

bool SameEntry(const std::string& left, const std::string& right) {
    if (left == right) {
        return true;
    }
    const QString leftText = PathToQString(left);
    const QString rightText = PathToQString(right);
    // Names that are not valid text may decode alike; those differ unless byte-equal.
    return leftText.compare(rightText, Qt::CaseInsensitive) == 0 && ShowsExactly(leftText, left) &&
           ShowsExactly(rightText, right);
}

bool ListHolds(const QListWidget& list, const std::string& entry) {
    for (int row = 0; row < list.count(); ++row) {
        if (SameEntry(EntryAt(list, row), entry)) {
            return true;
        }
    }
    return false;
}

void AppendEntry(QListWidget& list, const std::string& entry) {
    auto* item = new QListWidgetItem(PathToQString(entry), &list);
    item->setData(kPathRole, QByteArray(entry.data(), static_cast<qsizetype>(entry.size())));
    item->setSizeHint(QSize(0, kEntryHeight));
}

std::string EntryAt(const QListWidget& list, int row) {
    const QListWidgetItem* item = list.item(row);
    if (item == nullptr) {
        return {};
    }
    const QVariant path = item->data(kPathRole);
    return path.isValid() ? path.toByteArray().toStdString() : PathFromQString(item->text());
}

std::vector<std::string> Entries(const QListWidget& list) {
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(list.count()));
    for (int row = 0; row < list.count(); ++row) {
        entries.push_back(EntryAt(list, row));
    }
    return entries;
}

} // namespace kp
