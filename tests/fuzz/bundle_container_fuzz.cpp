// libFuzzer target: the bundle container reader walks any byte sequence to an end without reading
// past a record, accepting a header that is not "<name>\t<digits>", or keeping more of a name than
// its bound.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "update/bundle_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::FILE* container = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!container) return 0;
    std::vector<char> buffer(64);
    for (int record = 0; record < 10000; ++record) {
        BundleRecordHeader header;
        if (readBundleHeader(container, header) != BundleHeaderRead::Record) break;
        if (header.length < 0 || header.name.find('\n') != std::string::npos) __builtin_trap();
        // A name is never kept beyond its bound, however long the line.
        if (header.name.size() > kMaxBundleNameBytes || header.name.find('\t') != std::string::npos) {
            __builtin_trap();
        }
        // Alternate between skipping and copying, as the updater does for unwanted and wanted files.
        if (record % 2 == 0) {
            if (!skipBundleContent(container, header.length)) break;
        } else {
            const BundleCopyResult copy =
                copyBundleContent(container, header.length, nullptr, buffer.data(), buffer.size());
            if (!copy.complete) break;
        }
    }
    std::fclose(container);
    return 0;
}
