#include "selfextract/ResourceUpdate.h"

#include "platform/LastError.h"
#include "platform/TextEncoding.h"
#include "platform/WholeFiles.h"
#include "selfextract/PeImage.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace kp::platform {
namespace {

struct PendingUpdate {
    std::string path;
    std::vector<std::uint8_t> file;
    PeLayout layout;
    std::vector<Resource> resources;
};

std::atomic<bool> available{true};
std::mutex pendingMutex;
std::unordered_map<ResourceUpdateHandle, std::unique_ptr<PendingUpdate>> pending;
ResourceUpdateHandle lastHandle = kNoResourceUpdate;

bool failWith(std::uint32_t code) {
    setLastError(code);
    return false;
}

// A handle that a failed begin gave leaves that failure's code in place.
bool failOnHandle(ResourceUpdateHandle handle) {
    if (handle != kNoResourceUpdate || lastError() == kErrorSuccess) {
        setLastError(kErrorInvalidHandle);
    }
    return false;
}

ResourceName toResourceName(const ResourceKey& key) {
    return key.text.empty() ? ResourceName::fromId(key.id)
                            : ResourceName::fromText(utf8ToUtf16(key.text));
}

} // namespace

void setResourceUpdateAvailable(bool isAvailable) {
    available.store(isAvailable);
}

bool resourceUpdateAvailable() {
    return available.load();
}

ResourceUpdateHandle beginUpdateResource(const std::string& path, bool deleteExistingResources) {
    if (!resourceUpdateAvailable()) {
        setLastError(kErrorCallNotImplemented);
        return kNoResourceUpdate;
    }
    auto update = std::make_unique<PendingUpdate>();
    update->path = path;
    if (!readWholeFile(path, update->file)) {
        return kNoResourceUpdate;
    }
    try {
        ImageBytes bytes(update->file);
        update->layout = readPeLayout(bytes);
        // Existing resources are read even when they are to go, so that a malformed
        // tree is refused the same way either way.
        update->resources = readPeResources(bytes, update->layout);
        if (deleteExistingResources) {
            update->resources.clear();
        }
    } catch (const ImageError& error) {
        setLastError(error.code);
        return kNoResourceUpdate;
    } catch (const std::bad_alloc&) {
        setLastError(kErrorNotEnoughMemory);
        return kNoResourceUpdate;
    }
    std::lock_guard lock(pendingMutex);
    ResourceUpdateHandle handle = ++lastHandle;
    pending[handle] = std::move(update);
    setLastError(kErrorSuccess);
    return handle;
}

bool updateResource(ResourceUpdateHandle handle, const ResourceKey& type, const ResourceKey& name,
                    std::uint16_t language, const void* data, std::uint32_t size) {
    if (!resourceUpdateAvailable()) {
        return failWith(kErrorCallNotImplemented);
    }
    if ((data == nullptr && size != 0) || (type.text.empty() && type.id == 0) ||
        (name.text.empty() && name.id == 0) || type.text.size() > 0xFFFF ||
        name.text.size() > 0xFFFF) {
        return failWith(kErrorInvalidParameter);
    }
    std::lock_guard lock(pendingMutex);
    auto found = pending.find(handle);
    if (found == pending.end()) {
        return failOnHandle(handle);
    }
    std::vector<Resource>& resources = found->second->resources;
    try {
        ResourceName typeName = toResourceName(type);
        ResourceName resourceName = toResourceName(name);
        Resource* existing = findResource(resources, typeName, resourceName, language);
        if (data == nullptr) {
            if (existing) {
                resources.erase(resources.begin() + (existing - resources.data()));
            }
        } else {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            if (existing) {
                existing->data.assign(bytes, bytes + size);
            } else {
                resources.push_back({std::move(typeName), std::move(resourceName), language, 0,
                                     std::vector<std::uint8_t>(bytes, bytes + size)});
            }
        }
    } catch (const std::bad_alloc&) {
        return failWith(kErrorNotEnoughMemory);
    }
    setLastError(kErrorSuccess);
    return true;
}

bool endUpdateResource(ResourceUpdateHandle handle, bool discard) {
    if (!resourceUpdateAvailable()) {
        return failWith(kErrorCallNotImplemented);
    }
    std::unique_ptr<PendingUpdate> update;
    {
        std::lock_guard lock(pendingMutex);
        auto found = pending.find(handle);
        if (found == pending.end()) {
            return failOnHandle(handle);
        }
        update = std::move(found->second);
        pending.erase(found);
    }
    if (discard) {
        setLastError(kErrorSuccess);
        return true;
    }
    std::vector<std::uint8_t> image;
    try {
        image = rebuildPeImage(ImageBytes(update->file), update->layout, update->resources);
    } catch (const ImageError& error) {
        return failWith(error.code);
    } catch (const std::bad_alloc&) {
        return failWith(kErrorNotEnoughMemory);
    }
    update->file = {};
    update->resources = {};
    return replaceWholeFile(update->path, permissionBits(update->path, 0755), [&](FileHandle out) {
        return writeAll(out, image.data(), image.size());
    });
}

} // namespace kp::platform
