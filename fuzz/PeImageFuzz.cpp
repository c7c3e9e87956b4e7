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
    std::vector<std::uint8_t> streamedOutput;
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
        // The same image written as the self-extractor writes it: the CABINET data
        // supplied between the planned head and tail, the checksum summed on the way.
        Resource* cabinet = findResource(resources, type, name, 9);
        PeImagePlan plan = planPeImage(bytes, layout, resources, cabinet, added.size());
        streamedOutput = plan.head;
        streamedOutput.insert(streamedOutput.end(), added.begin(), added.end());
        streamedOutput.insert(streamedOutput.end(), plan.tail.begin(), plan.tail.end());
        PeChecksum checksum;
        checksum.add(streamedOutput.data(), streamedOutput.size());
        if (checksum.value() !=
            peChecksum(streamedOutput.data(), streamedOutput.size(), plan.checksumField)) {
            std::abort();
        }
    } catch (const ImageError&) {
        return 0;
    }
    ImageBytes streamed(streamedOutput);
    std::vector<Resource> streamedBack = readPeResources(streamed, readPeLayout(streamed));
    if (streamedBack.size() != resources.size()) {
        std::abort();
    }
    for (const Resource& resource : resources) {
        Resource* found =
            findResource(streamedBack, resource.type, resource.name, resource.language);
        if (!found || found->data != resource.data) {
            std::abort();
        }
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
