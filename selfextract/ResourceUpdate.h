// Resource update of Windows executables (PE32 and PE32+): begin, add or replace,
// end, with the last-error codes a Windows caller would see. Changes are kept in
// memory until the end, which writes the whole file anew or leaves it untouched.
#pragma once

#include <cstdint>
#include <string>

namespace kp::platform {

using ResourceUpdateHandle = std::intptr_t;
constexpr ResourceUpdateHandle kNoResourceUpdate = 0;

constexpr std::uint16_t kResourceTypeRcData = 10; // RT_RCDATA: raw data
constexpr std::uint16_t kLanguageEnglishNeutral = 0x0009;

// A resource type or name as callers give it: a number, or a text in the platform's
// narrow encoding (UTF-8).
struct ResourceKey {
    ResourceKey(std::uint16_t id) : id(id) {}
    ResourceKey(const char* text) : text(text) {}
    ResourceKey(std::string text) : text(std::move(text)) {}

    std::string text; // empty for a number
    std::uint16_t id = 0;
};

// Opens the executable at `path` for a resource update: reads and checks it whole.
// kNoResourceUpdate on failure, with the last error: 2 or 3 for a missing file or
// folder, 193 when it is not a PE image (or its headers or resource tree are
// malformed), 120 while resource update is switched off.
ResourceUpdateHandle beginUpdateResource(const std::string& path, bool deleteExistingResources);

// Adds the resource, or replaces the one of the same type, name (letter case aside)
// and language; with no data and size 0 it deletes it. The bytes are copied during the
// call. On a handle that a failed begin returned, the call fails and leaves that
// failure's code as the last error, so that a caller who tests only at the end sees
// the code of the first step that failed.
bool updateResource(ResourceUpdateHandle handle, const ResourceKey& type, const ResourceKey& name,
                    std::uint16_t language, const void* data, std::uint32_t size);

// Writes every change to the file (unless `discard`) and releases the handle. The
// new image is written beside the old one and then takes its name, so a failure
// leaves the file as it was. Last error 0 when written.
bool endUpdateResource(ResourceUpdateHandle handle, bool discard);

// Tests switch resource update off to take the way of systems without it: every
// call above then fails with 120 (call not implemented).
void setResourceUpdateAvailable(bool available);
bool resourceUpdateAvailable();

} // namespace kp::platform
