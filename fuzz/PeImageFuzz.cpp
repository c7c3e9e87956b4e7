// libFuzzer target for the executable-image reader and the resource rewrite: any
// input must be refused with an ImageError or give an image that reads back with
// the same resources plus the one added. Built with -DKP_FUZZ=ON (clang); run as
//   build-fuzz/bin/pe_image_fuzz -max_total_time=60 CORPUS_FOLDER
#include "selfextract/ImageBytes.h"
#include "selfextract/PeImage.h"

#include <cstdlib>

using namespace kp::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<Resource> resources;
    std::vector<std::uint8_t> output;
    try {
        ImageBytes bytes(data, size);
        PeLayout layout = readPeLayout(bytes);
        resources = readPeResources(bytes, layout);
        std::vector<std::uint8_t> added(data, data + std::min<std::size_t>(size, 64));
        ResourceName type = ResourceName::fromId(10);
        ResourceName name = ResourceName::fromText(u"CABINET");
        if (Resource* existing = findResource(resources, type, name, 9)) {
            existing->data = added;
        } else {
            resources.push_back({type, name, 9, 0, added});
        }
        output = rebuildPeImage(bytes, layout, resources);
    } catch (const ImageError&) {
        return 0;
    }
    ImageBytes rebuilt(output);
    std::vector<Resource> readBack = readPeResources(rebuilt, readPeLayout(rebuilt));
    if (readBack.size() != resources.size()) {
        std::abort();
    }
    for (const Resource& resource : resources) {
        Resource* found = findResource(readBack, resource.type, resource.name, resource.language);
        if (!found || found->data != resource.data) {
            std::abort();
        }
    }
    return 0;
}
