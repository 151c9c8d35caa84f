// Makes firmware packages in tests the way a vendor does: image files, a manifest.json, and a
// signature by the stock minisign tool with keys made by it in the test. Also the tamperings a
// package must be refused for, shared by the unit and the integration tests.
#pragma once

#include "firmware/crypto.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace orvane::test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline const char* MinisignProgram() {
    return ORVANE_MINISIGN;
}
inline bool HaveMinisign() {
    return MinisignProgram()[0] != '\0';
}

inline Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}
inline std::string ReadText(const fs::path& path) {
    const Bytes b = ReadBytes(path);
    return std::string(b.begin(), b.end());
}
inline void WriteText(const fs::path& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// Records of 129 bytes (type byte, 128 data bytes) from a seeded generator: bytes that differ
// from the build's placeholders, so a transfer of the wrong image cannot pass unseen.
inline Bytes RecordImage(std::uint32_t type25, std::uint32_t type24, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Bytes image;
    for (std::uint32_t r = 0; r < type25 + type24; ++r) {
        image.push_back(r < type25 ? 25 : 24);
        for (int i = 0; i < 128; ++i)
            image.push_back(static_cast<std::uint8_t>(rng()));
    }
    return image;
}
inline Bytes RawImage(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Bytes image(size);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(rng());
    return image;
}

class PackageMaker {
public:
    // `root` holds the keys and the package folder "pkg".
    explicit PackageMaker(fs::path root) : root(std::move(root)), dir(this->root / "pkg") {
        fs::create_directories(dir);
        images["G"] = RecordImage(50, 150, 7);
        images["PXA271"] = RawImage(5000, 8);
        images["FPGA"] = RawImage(3001, 9);
        entries = nlohmann::json::array(
            {{{"identifiers", {"K99X"}}, {"name", "K99"}, {"image", "G"}, {"baud", "unchanged"}}});
    }

    // A key pair made by minisign, without a password.
    bool MakeKey(const std::string& name) const {
        return Run("-G -W -f -p " + Quote(PublicKey(name)) + " -s " + Quote(SecretKey(name)));
    }
    fs::path PublicKey(const std::string& name) const { return root / (name + ".pub"); }
    fs::path SecretKey(const std::string& name) const { return root / (name + ".key"); }

    nlohmann::json Manifest() const {
        nlohmann::json m = {{"format", 1}, {"release", release}, {"date", "2026-11-30"}};
        m["images"] = nlohmann::json::object();
        for (const auto& [name, bytes] : images)
            m["images"][name] = {
                {"file", name + ".bin"}, {"length", bytes.size()}, {"sha256", Sha256Hex(bytes)}};
        if (!entries.empty())
            m["entries"] = entries;
        return m;
    }

    // Writes the image files and the manifest (after `edit`), then signs the manifest.
    bool Write(const std::function<void(nlohmann::json&)>& edit = {},
               const std::string& key = "vendor", bool legacy = false) const {
        for (const auto& [name, bytes] : images)
            WriteBytes(dir / (name + ".bin"), bytes);
        nlohmann::json m = Manifest();
        if (editManifest)
            editManifest(m);
        if (edit)
            edit(m);
        std::string text = m.dump(2) + "\n";
        if (editText)
            editText(text);
        WriteText(dir / "manifest.json", text);
        return Run(std::string("-S ") + (legacy ? "-l " : "") + "-s " + Quote(SecretKey(key)) +
                   " -m " + Quote(dir / "manifest.json"));
    }

    static std::string Sha256Hex(const Bytes& bytes) {
        return firmware::Sha256Hex(bytes.data(), bytes.size());
    }

    fs::path root;
    fs::path dir;
    std::string release = "2026.11 K-series";
    std::map<std::string, Bytes> images;
    nlohmann::json entries;
    std::function<void(nlohmann::json&)> editManifest; // applied before signing
    // Applied to the manifest's text before signing: what a JSON value cannot hold.
    std::function<void(std::string&)> editText;

private:
    static std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }
    static bool Run(const std::string& args) {
        const std::string command =
            std::string(MinisignProgram()) + " " + args + " </dev/null >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
};

// A way to spoil a package, with the file the refusal must name and what it must say.
struct Tampering {
    const char* what;
    std::function<void(PackageMaker&)> beforeSigning; // changes what is signed
    std::string key = "vendor";                       // the key that signs
    std::function<void(const fs::path& dir)> afterSigning;
    const char* file; // the file named in the refusal
    const char* says; // part of the refusal
};

inline void FlipByte(const fs::path& file, std::size_t at) {
    Bytes b = ReadBytes(file);
    b.at(at) ^= 0x01;
    WriteBytes(file, b);
}

// Puts `text` before the first `before` found from `from` on.
inline void Insert(std::string& m, const std::string& before, const std::string& text,
                   std::size_t from = 0) {
    m.insert(m.find(before, from), text);
}

inline std::vector<Tampering> Tamperings() {
    return {
        {"one byte of an image",
         {},
         "vendor",
         [](const fs::path& d) { FlipByte(d / "G.bin", 1000); },
         "G.bin",
         "SHA-256 is not the one manifest.json gives"},
        {"a wrong length",
         {},
         "vendor",
         [](const fs::path& d) {
             Bytes b = ReadBytes(d / "FPGA.bin");
             b.push_back(0);
             WriteBytes(d / "FPGA.bin", b);
         },
         "FPGA.bin",
         "3002 bytes, but manifest.json says 3001"},
        {"a missing file",
         {},
         "vendor",
         [](const fs::path& d) { fs::remove(d / "PXA271.bin"); },
         "PXA271.bin",
         "missing"},
        {"the manifest edited after signing",
         {},
         "vendor",
         [](const fs::path& d) {
             std::string m = ReadText(d / "manifest.json");
             m.replace(m.find("2026.11"), 7, "2026.12");
             WriteText(d / "manifest.json", m);
         },
         "manifest.json",
         "the signature does not match"},
        {"an untrusted key",
         {},
         "intruder",
         {},
         "manifest.json.minisig",
         "which is not a trusted key"},
        {"record type 26",
         [](PackageMaker& p) { p.images["G"][10 * 129] = 26; },
         "vendor",
         {},
         "G.bin",
         "has record type 26"},
        {"a truncated last record",
         [](PackageMaker& p) { p.images["G"].pop_back(); },
         "vendor",
         {},
         "G.bin",
         "not whole 129-byte records"},
        {"a catalogue entry naming a missing image",
         [](PackageMaker& p) {
             p.entries.push_back({{"identifiers", {"K99Y"}}, {"name", "K99"}, {"image", "B"}});
         },
         "vendor",
         {},
         "manifest.json",
         "names image B, which is not in this package"},
        {"no signature",
         {},
         "vendor",
         [](const fs::path& d) { fs::remove(d / "manifest.json.minisig"); },
         "manifest.json.minisig",
         "the package is not signed"},
        {"the trusted comment changed",
         {},
         "vendor",
         [](const fs::path& d) {
             std::string s = ReadText(d / "manifest.json.minisig");
             s.replace(s.find("timestamp:"), 10, "timestamp:9");
             WriteText(d / "manifest.json.minisig", s);
         },
         "manifest.json",
         "the signature does not match"},
        {"type 25 after type 24",
         [](PackageMaker& p) { p.images["G"][100 * 129] = 25; },
         "vendor",
         {},
         "G.bin",
         "type 25 after type-24 records"},
        {"an image file outside the package folder",
         [](PackageMaker& p) {
             p.editManifest = [](nlohmann::json& m) { m["images"]["G"]["file"] = "../G.bin"; };
         },
         "vendor",
         {},
         "manifest.json",
         "must name a file in the package folder"},
        {"a format this updater does not read",
         [](PackageMaker& p) { p.editManifest = [](nlohmann::json& m) { m["format"] = 2; }; },
         "vendor",
         {},
         "manifest.json",
         "format 2 is not one this updater reads"},
        // A key given twice: a person reading the signed text takes the first value, the
        // parser would keep the last.
        {"the release name given twice",
         [](PackageMaker& p) {
             p.editText = [](std::string& m) {
                 Insert(m, "\"release\": ", "\"release\": \"2026.12 recalled\", ");
             };
         },
         "vendor",
         {},
         "manifest.json",
         "\"release\" is given twice;"},
        {"an image's file given twice",
         [](PackageMaker& p) {
             p.editText = [](std::string& m) {
                 Insert(m, "\"file\": \"G.bin\"", "\"file\": \"G-old.bin\", ");
             };
         },
         "vendor",
         {},
         "manifest.json",
         "\"file\" is given twice in .images.G;"},
        {"a catalogue entry's image given twice",
         [](PackageMaker& p) {
             p.entries.push_back({{"identifiers", {"K99Y"}}, {"image", "G"}});
             p.editText = [](std::string& m) {
                 Insert(m, "\"image\": \"G\"", "\"image\": \"B\", ", m.rfind("K99Y"));
             };
         },
         "vendor",
         {},
         "manifest.json",
         "\"image\" is given twice in .entries[1];"},
    };
}

} // namespace orvane::test
