#include "FolderBrowserDialog.h"

#include "StringConvert.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTreeView>

namespace kp {

namespace {

// The client area and its parts, in pixels; the buttons share one row with the
// client's button at kExtraButtonPlace.
constexpr QSize kClientSize{320, 305};
constexpr int kMargin = 12;
constexpr int kInnerWidth = 296;
constexpr QRect kTitle{kMargin, 10, kInnerWidth, 28};
constexpr QRect kStatus{kMargin, 40, kInnerWidth, 16};
constexpr int kTreeTopWithStatus = 60;
constexpr int kTreeTopWithoutStatus = 40;
constexpr int kTreeBottom = 260;
constexpr QRect kOk{152, 270, 75, 23};
constexpr QRect kCancel{233, 270, 75, 23};

bool IsBelow(const QString& path, const QString& folder) {
    if (folder == QDir::rootPath()) {
        return path.size() > folder.size() && path.startsWith(folder);
    }
    return path.startsWith(folder + QLatin1Char('/'));
}

// Shows only the root folder at the top of the tree: of the folders above it just the
// line that leads to it, everything below it.
class RootFilter : public QSortFilterProxyModel {
public:
    RootFilter(QString root, QObject* parent)
        : QSortFilterProxyModel(parent), root_(std::move(root)) {}

protected:
    bool filterAcceptsRow(int row, const QModelIndex& sourceParent) const override {
        if (root_.isEmpty()) {
            return true;
        }
        const auto* folders = static_cast<const QFileSystemModel*>(sourceModel());
        const QString path = folders->filePath(folders->index(row, 0, sourceParent));
        return path == root_ || IsBelow(path, root_) || IsBelow(root_, path);
    }

private:
    QString root_;
};

} // namespace

FolderBrowserDialog::FolderBrowserDialog(const Description& description)
    : QDialog(description.owner != nullptr ? description.owner->window() : nullptr),
      callback_(description.callback) {
    setObjectName(QStringLiteral("FolderBrowserDialog"));
    setWindowTitle(QStringLiteral("Browse for Folder"));
    setFixedSize(kClientSize);
    if (!description.root.empty()) {
        root_ = QDir::cleanPath(PathToQString(description.root));
    }

    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("title"));
    title_->setTextFormat(Qt::PlainText);
    title_->setWordWrap(true);
    title_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    title_->setText(ToQString(description.title));

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextFormat(Qt::PlainText);

    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("tree"));

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    PlaceControls((description.options & kBrowseStatusText) != 0);
    ShowTree();
    tree_->setFocus();
}

void FolderBrowserDialog::PlaceControls(bool withStatusLine) {
    title_->setGeometry(kTitle);
    status_->setGeometry(kStatus);
    status_->setVisible(withStatusLine);
    const int treeTop = withStatusLine ? kTreeTopWithStatus : kTreeTopWithoutStatus;
    tree_->setGeometry(kMargin, treeTop, kInnerWidth, kTreeBottom - treeTop);
    ok_->setGeometry(kOk);
    cancel_->setGeometry(kCancel);
}

void FolderBrowserDialog::ShowTree() {
    folders_ = new QFileSystemModel(this);
    folders_->setReadOnly(true);
    folders_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    folders_->setRootPath(QDir::rootPath());
    shown_ = new RootFilter(root_, this);
    shown_->setSourceModel(folders_);
    shown_->setSortCaseSensitivity(Qt::CaseInsensitive);
    shown_->sort(0);

    tree_->setModel(shown_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < folders_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setUniformRowHeights(true);
    tree_->setAnimated(false);
    // A tree under the root shows the root as its one top entry: its parent is the
    // view's root, with the parent's other folders filtered out.
    if (!root_.isEmpty() && root_ != QDir::rootPath()) {
        tree_->setRootIndex(shown_->mapFromSource(folders_->index(QFileInfo(root_).path())));
    }
    const QModelIndex opened = ItemOfPath(root_.isEmpty() ? QDir::homePath() : root_);
    for (QModelIndex item = opened; item.isValid(); item = item.parent()) {
        tree_->expand(item);
    }
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { Notify(SelectionChanged, current); });
    // Folders are read in the background; each folder read above the selection moves
    // it down, so the view follows it. Folders the user opens elsewhere leave it be.
    connect(folders_, &QFileSystemModel::directoryLoaded, this, [this](const QString& folder) {
        const QModelIndex current = tree_->currentIndex();
        if (current.isValid() &&
            IsBelow(folders_->filePath(shown_->mapToSource(current)), folder)) {
            tree_->scrollTo(current);
        }
    });
}

QModelIndex FolderBrowserDialog::ItemOfPath(const QString& path) const {
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // The folders above the root are in the model only to lead to it.
    if (!root_.isEmpty() && folder != root_ && !IsBelow(folder, root_)) {
        return {};
    }
    const QModelIndex source = folders_->index(folder);
    return source.isValid() ? shown_->mapFromSource(source) : QModelIndex();
}

void FolderBrowserDialog::SelectDefault() {
    QModelIndex item = ItemOfPath(root_.isEmpty() ? QDir::homePath() : root_);
    if (!item.isValid()) {
        item = shown_->index(0, 0, tree_->rootIndex());
    }
    tree_->setCurrentIndex(item);
}

void FolderBrowserDialog::Notify(Notification notification, const QModelIndex& item) {
    if (callback_) {
        callback_(*this, notification, item);
    }
}

std::optional<std::string> FolderBrowserDialog::Browse(const Description& description) {
    FolderBrowserDialog dialog(description);
    dialog.Notify(Initialized, QModelIndex());
    if (!dialog.tree_->currentIndex().isValid()) {
        dialog.SelectDefault();
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return PathOfItem(dialog.tree_->currentIndex());
}

std::string FolderBrowserDialog::PathOfItem(const QModelIndex& item) {
    QModelIndex source = item;
    while (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(source.model())) {
        source = proxy->mapToSource(source);
    }
    const auto* folders = qobject_cast<const QFileSystemModel*>(source.model());
    if (!source.isValid() || folders == nullptr) {
        return {};
    }
    return PathFromQString(folders->filePath(source));
}

void FolderBrowserDialog::SetStatusText(const std::string& text) {
    // A line too long for the dialog gives up its middle, where a path is least telling.
    statusText_ = ToQString(text);
    status_->setText(
        status_->fontMetrics().elidedText(statusText_, Qt::ElideMiddle, status_->width()));
    status_->setToolTip(statusText_);
}

void FolderBrowserDialog::EnableOK(bool enabled) {
    ok_->setEnabled(enabled);
}

void FolderBrowserDialog::SetSelection(const std::string& path) {
    const QModelIndex item = ItemOfPath(PathToQString(path));
    if (item.isValid()) {
        tree_->setCurrentIndex(item);
        tree_->scrollTo(item);
    }
}

} // namespace kp
