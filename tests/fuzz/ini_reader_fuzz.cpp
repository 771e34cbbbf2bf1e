// libFuzzer target: the INI reader must either build a document or throw its syntax error.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include "config/ini_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    try {
        IniDocument document(stream);
        // Walk what was built: parent links and depths must be consistent.
        IniSection* section = &document.root;
        while (!section->sectionOrder.empty()) {
            IniSection* child = section->sectionOrder.back();
            if (child->parent != section || child->depth != section->depth + 1) __builtin_trap();
            section = child;
        }
        (void)document.root.section("paths").value("lurra");
    } catch (const std::runtime_error& error) {
        if (std::string(error.what()).find(" on line #") == std::string::npos) __builtin_trap();
    }
    return 0;
}
