#include "FileDrop.h"

#include "StringConvert.h"

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace kp {

TFileDrop::TFileDrop(QObject* owner) : QObject(owner) {}

TFileDrop::~TFileDrop() {
    UnhookDropControl();
    enableDrop_ = false;
}

void TFileDrop::setEnableDrop(bool value) {
    enableDrop_ = value;
    TellControlWhetherItAcceptsDrops();
}

void TFileDrop::setDropControl(QWidget* control) {
    if (control != nullptr && control == dropControl_) {
        return;
    }
    UnhookDropControl();
    if (control == nullptr) {
        enableDrop_ = false;
        return;
    }
    dropControl_ = control;
    HookDropControl();
    setEnableDrop(true);
}

void TFileDrop::HookDropControl() {
    controlAcceptedDropsBefore_ = dropControl_->acceptDrops();
    // Drags reach the widget under the cursor that takes drops, which may be a control
    // inside the drop control (an edit box would take the names as text), so the drags
    // of every widget pass here first.
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    // A control that goes away first must not leave a dangling hook behind.
    controlDestroyed_ = connect(dropControl_, &QObject::destroyed, this, [this] {
        dropControl_ = nullptr;
        enableDrop_ = false;
    });
}

void TFileDrop::UnhookDropControl() {
    if (dropControl_ == nullptr) {
        return;
    }
    disconnect(controlDestroyed_);
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    dropControl_->setAcceptDrops(controlAcceptedDropsBefore_);
    dropControl_ = nullptr;
}

void TFileDrop::TellControlWhetherItAcceptsDrops() {
    // While drops are off the control keeps whatever drops it took on its own.
    if (dropControl_ != nullptr) {
        dropControl_->setAcceptDrops(enableDrop_ || controlAcceptedDropsBefore_);
    }
}

std::vector<std::string> TFileDrop::DroppedPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        // File managers write folders with or without a trailing slash; the path is
        // the same either way.
        const QString path = QDir::cleanPath(url.toLocalFile());
        if (QDir::isAbsolutePath(path)) {
            paths.push_back(PathFromQString(path));
        }
    }
    return paths;
}

bool TFileDrop::TakesDrop(QDropEvent* event) const {
    if (!enableDrop_ || DroppedPaths(event->mimeData()).empty()) {
        return false;
    }
    // Never answer "move": the file manager would delete what was dropped.
    if (event->possibleActions().testFlag(Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
    } else if (event->possibleActions().testFlag(Qt::LinkAction)) {
        event->setDropAction(Qt::LinkAction);
    } else {
        return false;
    }
    return true;
}

bool TFileDrop::IsOnDropControl(QObject* watched) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && dropControl_ != nullptr &&
           (widget == dropControl_ || dropControl_->isAncestorOf(widget));
}

bool TFileDrop::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) ||
        !IsOnDropControl(watched)) {
        return false;
    }
    // Entering and moving are drop events too; their answer is whether a drop is taken.
    auto* drop = static_cast<QDropEvent*>(event);
    if (!TakesDrop(drop)) {
        return false;
    }
    drop->accept();
    if (type == QEvent::Drop) {
        DropFiles(DroppedPaths(drop->mimeData()));
    }
    return true;
}

void TFileDrop::DropFiles(std::vector<std::string> paths) {
    files_ = std::move(paths);
    fileCount_ = static_cast<int>(files_.size());
    if (OnDrop) {
        OnDrop(this);
    }
}

} // namespace kp
