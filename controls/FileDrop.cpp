#include "FileDrop.h"

#include "StringConvert.h"

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
    dropControl_->installEventFilter(this);
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
    dropControl_->removeEventFilter(this);
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

bool TFileDrop::eventFilter(QObject* watched, QEvent* event) {
    if (watched != dropControl_) {
        return false;
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!TakesDrop(drag)) {
            return false;
        }
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!TakesDrop(drop)) {
            return false;
        }
        drop->accept();
        DropFiles(DroppedPaths(drop->mimeData()));
        return true;
    }
    default:
        return false;
    }
}

void TFileDrop::DropFiles(std::vector<std::string> paths) {
    files_ = std::move(paths);
    fileCount_ = static_cast<int>(files_.size());
    if (OnDrop) {
        OnDrop(this);
    }
}

} // namespace kp
