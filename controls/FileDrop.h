#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QDropEvent;
class QMimeData;

namespace kp {

// Makes a widget a target for files and folders dragged from the file manager. Each
// drop replaces Files with the absolute paths it carried, in the drag's order, and
// then fires OnDrop.
class TFileDrop : public QObject {
    Q_OBJECT

public:
    explicit TFileDrop(QObject* owner = nullptr);
    ~TFileDrop() override;

    const std::vector<std::string>& Files() const { return files_; }
    int FileCount() const { return fileCount_; }

    bool EnableDrop() const { return enableDrop_; }
    void setEnableDrop(bool value);

    QWidget* DropControl() const { return dropControl_; }
    // Attaching a control also enables drops; nullptr detaches and disables.
    void setDropControl(QWidget* control);

    std::function<void(QObject* Sender)> OnDrop;

    // The absolute local paths a drag carries, in its order; other URLs are left out.
    static std::vector<std::string> DroppedPaths(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void HookDropControl();
    void UnhookDropControl();
    void TellControlWhetherItAcceptsDrops();
    // Whether watched is the drop control or a widget inside it.
    bool IsOnDropControl(QObject* watched) const;
    bool TakesDrop(QDropEvent* event) const;
    void DropFiles(std::vector<std::string> paths);

    std::vector<std::string> files_;
    int fileCount_ = 0;
    bool enableDrop_ = false;
    QPointer<QWidget> dropControl_;
    bool controlAcceptedDropsBefore_ = false;
    QMetaObject::Connection controlDestroyed_;
};

} // namespace kp
