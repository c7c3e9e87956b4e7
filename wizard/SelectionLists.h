// The entries of the three selection lists: paths kept byte for byte, shown as text.
#pragma once

#include <string>
#include <vector>

class QListWidget;

namespace kp {

// Two entries are the same when their whole texts match without regard to letter
// case, whatever the file system thinks of case.
bool SameEntry(const std::string& left, const std::string& right);

bool ListHolds(const QListWidget& list, const std::string& entry);
void AppendEntry(QListWidget& list, const std::string& entry);
std::string EntryAt(const QListWidget& list, int row);
std::vector<std::string> Entries(const QListWidget& list);

} // namespace kp
