// Build-time generator of the firmware images carried by the updater.
//
// We do not ship the receivers' firmware in the repository: the images are placeholders
// with exactly the layout of the real ones (record type bytes, record counts, lengths), so
// every transfer has the right number of blocks, segments and frame types. Data bytes come
// from a generator seeded per image, so every build produces the same bytes.
//
// Usage: orvane_imagegen <output folder>
// Writes one .bin per image and images.S, which places every embedded image in read-only
// data followed by its length word (unsigned 32-bit little-endian) at the next 4-byte
// boundary, and the two resource images with their sizes.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct ImageSpec {
    const char* name;
    std::uint32_t type25Records;
    std::uint32_t type24Records;
    std::uint32_t storedRecords; // records physically stored (more than the length word says for D)
};

// Name, type-25 records, type-24 records, stored records.
constexpr ImageSpec kImages[] = {
    {"A", 155, 417, 572}, {"B", 115, 333, 448}, {"C", 119, 449, 568}, {"D", 0, 605, 611},
    {"E", 119, 459, 578}, {"F", 166, 399, 565}, {"G", 113, 463, 576}, {"H", 170, 445, 615},
    {"I", 0, 2130, 2130}, {"J", 0, 2514, 2514}, {"K", 0, 1400, 1400}, {"L", 0, 694, 694},
    {"M", 172, 479, 651}, {"N", 105, 329, 434},
};

struct ResourceSpec {
    const char* name;
    std::uint32_t size;
};
constexpr ResourceSpec kResources[] = {{"PXA271", 433648}, {"FPGA", 1024660}};

constexpr std::uint32_t kRecordSize = 129;

// splitmix64: small, well distributed, and identical on every platform.
class Generator {
public:
    explicit Generator(std::uint64_t seed) : m_state(seed) {}
    std::uint8_t NextByte() {
        if (m_left == 0) {
            std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            m_word = z ^ (z >> 31);
            m_left = 8;
        }
        const auto b = static_cast<std::uint8_t>(m_word);
        m_word >>= 8;
        --m_left;
        return b;
    }

private:
    std::uint64_t m_state;
    std::uint64_t m_word = 0;
    int m_left = 0;
};

std::uint64_t SeedFor(const std::string& name) {
    std::uint64_t h = 1469598103934665603ull; // FNV-1a
    for (unsigned char c : name) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::string asm_text = "#ifdef __ELF__\n    .section .rodata.orvane_images,\"a\"\n#else\n"
                           "    .section .rdata$orvane_images,\"dr\"\n#endif\n";

    for (const ImageSpec& img : kImages) {
        Generator gen(SeedFor(std::string("image-") + img.name));
        std::vector<std::uint8_t> bytes;
        bytes.reserve(img.storedRecords * kRecordSize);
        for (std::uint32_t r = 0; r < img.storedRecords; ++r) {
            bytes.push_back(r < img.type25Records ? 25 : 24);
            for (int i = 0; i < 128; ++i)
                bytes.push_back(gen.NextByte());
        }
        const std::uint32_t length = (img.type25Records + img.type24Records) * kRecordSize;
        const std::string bin = dir + "/image_" + img.name + ".bin";
        if (!WriteFile(bin, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", bin.c_str());
            return 1;
        }
        const std::string sym = std::string("orvane_image_") + img.name;
        asm_text += "    .balign 4\n    .globl " + sym + "\n" + sym + ":\n    .incbin \"" + bin +
                    "\"\n    .globl " + sym + "_end\n" + sym + "_end:\n    .balign 4\n" +
                    "    .globl " + sym + "_len\n" + sym + "_len:\n    .byte " +
                    std::to_string(length & 0xFF) + ", " + std::to_string((length >> 8) & 0xFF) +
                    ", " + std::to_string((length >> 16) & 0xFF) + ", " +
                    std::to_string(length >> 24) + "\n";
    }
    for (const ResourceSpec& res : kResources) {
        Generator gen(SeedFor(std::string("resource-") + res.name));
        std::vector<std::uint8_t> bytes(res.size);
        for (auto& b : bytes)
            b = gen.NextByte();
        const std::string bin = dir + "/resource_" + res.name + ".bin";
        if (!WriteFile(bin, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", bin.c_str());
            return 1;
        }
        const std::string sym = std::string("orvane_resource_") + res.name;
        asm_text += "    .balign 16\n    .globl " + sym + "\n" + sym + ":\n    .incbin \"" + bin +
                    "\"\n    .globl " + sym + "_end\n" + sym + "_end:\n";
    }
    asm_text += "#ifdef __ELF__\n    .section .note.GNU-stack,\"\",@progbits\n#endif\n";

    std::ofstream out(dir + "/images.S", std::ios::trunc);
    out << asm_text;
    return out ? 0 : 1;
}
