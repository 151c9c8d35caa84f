// Build-time check and embedding of a firmware package (-DORVANE_FIRMWARE=PATH).
//
// Usage: orvane_fwembed <package> <output folder> <trusted public key file>...
// Verifies the package with the updater's own package code (signature against the given keys,
// lengths, SHA-256, record layout, catalogue entries); on any failure prints the reason and
// exits 1, which fails the build. Otherwise writes the bytes it verified (manifest.json and one
// file per image) into the output folder, and firmware_package.S, which places them in
// read-only data for builtin_package.cpp.
#include "firmware/package.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t length) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
    return static_cast<bool>(out);
}

// A text as assembler bytes, so no quoting rule of the assembler can be tripped by a path.
std::string AsmText(const std::string& symbol, const std::string& text) {
    std::string out = "    .globl " + symbol + "\n" + symbol + ":\n    .byte ";
    for (const unsigned char c : text)
        out += std::to_string(c) + ", ";
    return out + "0\n";
}

std::string AsmBlob(const std::string& symbol, const std::string& file) {
    std::string out = "    .balign 16\n    .globl " + symbol + "\n" + symbol + ":\n";
    if (!file.empty())
        out += "    .incbin \"" + file + "\"\n";
    return out + "    .globl " + symbol + "_end\n" + symbol + "_end:\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <package> <output folder> <public key file>...\n", argv[0]);
        return 2;
    }
    const std::string package = argv[1];
    const std::string out = argv[2];
    orvane::firmware::TrustedKeys trusted;
    for (int i = 3; i < argc; ++i) {
        if (!orvane::firmware::AddKeyFile(argv[i], trusted)) {
            std::fprintf(stderr, "ORVANE_FIRMWARE: %s\n", trusted.problems.back().c_str());
            return 1;
        }
    }
    const auto result = orvane::firmware::LoadPackage(package, trusted);
    if (!result.firmware) {
        std::fprintf(stderr, "ORVANE_FIRMWARE: the package is refused: %s\n", result.error.c_str());
        return 1;
    }

    std::string text = "#ifdef __ELF__\n    .section .rodata.orvane_package,\"a\"\n#else\n"
                       "    .section .rdata$orvane_package,\"dr\"\n#endif\n";
    const std::string manifest = out + "/manifest.json";
    if (!WriteFile(manifest, result.manifest.data(), result.manifest.size())) {
        std::fprintf(stderr, "cannot write %s\n", manifest.c_str());
        return 1;
    }
    text += AsmBlob("orvane_package_manifest", manifest);
    for (const std::string_view name : orvane::firmware::kImageNames) {
        const auto* image = result.firmware->Image(name);
        std::string file;
        if (image) {
            file = out + "/image_" + std::string(name) + ".bin";
            if (!WriteFile(file, image->data, image->length)) {
                std::fprintf(stderr, "cannot write %s\n", file.c_str());
                return 1;
            }
        }
        text += AsmBlob("orvane_package_image_" + std::string(name), file);
    }
    text += AsmText("orvane_package_source", package);
    text += AsmText("orvane_package_signed_by", result.firmware->SignedBy());
    text += "#ifdef __ELF__\n    .section .note.GNU-stack,\"\",@progbits\n#endif\n";
    std::ofstream asmFile(out + "/firmware_package.S", std::ios::trunc);
    asmFile << text;
    if (!asmFile)
        return 1;
    std::printf("Embedding %s\n", result.firmware->Description().c_str());
    return 0;
}
