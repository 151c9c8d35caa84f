#include "firmware/package.h"

#include "firmware/crypto.h"
#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

namespace orvane::firmware {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t kMaxKeyFileBytes = 4096;
constexpr std::size_t kMaxReleaseChars = 200;
constexpr std::size_t kMaxDateChars = 40;
constexpr std::size_t kMaxNameChars = 64;
constexpr std::size_t kMaxIdentifierChars = 32;
constexpr std::size_t kMaxIdentifiers = 4;
constexpr std::size_t kMaxFileNameChars = 255;
// Entries of a package are numbered after the built-in ones.
constexpr int kFirstPackageEntry = 27;

PackageResult Refuse(std::string error) {
    return {nullptr, std::move(error), {}};
}

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? ", " : "") + parts[i];
    return text;
}

// Reads a whole file of at most `limit` bytes.
bool ReadSmallFile(const fs::path& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
                   std::string& error) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        error = "missing";
        return false;
    }
    if (!fs::is_regular_file(path, ec)) {
        error = "not a file";
        return false;
    }
    const auto size = fs::file_size(path, ec);
    if (ec) {
        error = "cannot be read (" + ec.message() + ")";
        return false;
    }
    if (size > limit) {
        error = FormatAnsi("too large (%llu bytes; at most %zu are expected)",
                           static_cast<unsigned long long>(size), limit);
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(static_cast<std::size_t>(size), 0);
    if (!in ||
        !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        error = "cannot be read";
        return false;
    }
    return true;
}

// Texts shown to people and written into reports: no control characters, bounded length.
bool IsPlainText(const std::string& text, std::size_t maxChars) {
    if (text.size() > maxChars * 4) // UTF-8: at most four bytes a character
        return false;
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// A file name inside the package folder, never a path that leads out of it.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxFileNameChars && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos &&
           IsPlainText(name, kMaxFileNameChars);
}

// What a receiver reports as its identifier: printable, without the blank and comma that end
// the token on the line.
bool IsIdentifier(const std::string& id) {
    return !id.empty() && id.size() <= kMaxIdentifierChars &&
           std::all_of(id.begin(), id.end(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u > 0x20 && u < 0x7F && c != ',';
           });
}

bool IsSha256Text(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

// nlohmann's messages start with "[json.exception.parse_error.101] "; people need the rest.
std::string PlainJsonError(const std::string& what) {
    const std::size_t close = what.find("] ");
    return close == std::string::npos ? what : what.substr(close + 2);
}

// A signed manifest is read by people as well as by the updater. With a key given twice, a
// person reading the signed text takes the first value and the JSON parser keeps the last, so
// the signature would vouch for a text that says two things. The parser's callback sees every
// key of every object in order; the first one given twice is kept with where it stands
// (".images.G", ".entries[1]": jq's notation).
class DuplicateKeyFinder {
public:
    bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            Open(false);
            break;
        case json::parse_event_t::array_start:
            Open(true);
            break;
        case json::parse_event_t::key: {
            Frame& frame = m_frames.back();
            frame.key = parsed.get<std::string>();
            if (!frame.keys.insert(frame.key).second && m_found.empty())
                m_found = json(frame.key).dump() + " is given twice" +
                          (frame.path.empty() ? std::string() : " in " + frame.path);
            break;
        }
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            m_frames.pop_back();
            Advance();
            break;
        case json::parse_event_t::value:
            Advance();
            break;
        }
        return true;
    }
    // The first key given twice and where, or "".
    const std::string& Found() const { return m_found; }

private:
    struct Frame {
        bool array = false;
        std::string path;           // where this object or array stands; "" for the whole
        std::set<std::string> keys; // an object's keys so far
        std::string key;            // an object's latest key
        std::size_t index = 0;      // an array's items so far
    };
    void Open(bool array) {
        std::string path;
        if (!m_frames.empty()) {
            const Frame& parent = m_frames.back();
            path =
                parent.path + (parent.array ? FormatAnsi("[%zu]", parent.index) : "." + parent.key);
        }
        m_frames.push_back({array, std::move(path), {}, {}, 0});
    }
    // An item of the enclosing array is complete.
    void Advance() {
        if (!m_frames.empty() && m_frames.back().array)
            ++m_frames.back().index;
    }

    std::vector<Frame> m_frames;
    std::string m_found;
};

class ManifestReader {
public:
    ManifestReader(const PackageFiles& files, std::string source, std::string signedBy)
        : m_files(files), m_source(std::move(source)), m_signedBy(std::move(signedBy)),
          m_set(std::make_shared<FirmwareSet>(FirmwareSet::Kind::Package)) {}

    PackageResult Read(const std::vector<std::uint8_t>& bytes) {
        json doc;
        DuplicateKeyFinder duplicates;
        try {
            doc = json::parse(bytes.begin(), bytes.end(), std::ref(duplicates));
        } catch (const json::exception& e) {
            return Refuse(Manifest() + ": not valid JSON: " + PlainJsonError(e.what()));
        }
        if (!duplicates.Found().empty())
            return Refuse(Manifest() + ": " + duplicates.Found() +
                          "; a person reading the signed text sees the first, so a manifest "
                          "must give every key once");
        if (!doc.is_object())
            return Refuse(Manifest() + ": not a JSON object");
        std::string error;
        if (!ReadHeader(doc, error) || !ReadImages(doc, error) || !ReadEntries(doc, error))
            return Refuse(error);
        return {m_set, {}, {}};
    }

private:
    std::string Manifest() const { return Where(kManifestName); }
    std::string Where(const std::string& file) const {
        return m_source.empty() ? file : PathToUtf8(PathFromUtf8(m_source) / PathFromUtf8(file));
    }
    bool Fail(std::string& error, const std::string& what) const {
        error = Manifest() + ": " + what;
        return false;
    }

    bool ReadHeader(const json& doc, std::string& error) {
        const auto format = doc.find("format");
        if (format == doc.end() || !format->is_number_unsigned())
            return Fail(error,
                        "\"format\" is missing or not a number (this updater reads format 1)");
        if (format->get<std::uint64_t>() != 1)
            return Fail(error,
                        FormatAnsi("format %llu is not one this updater reads (it reads "
                                   "format 1)",
                                   static_cast<unsigned long long>(format->get<std::uint64_t>())));
        const auto release = doc.find("release");
        if (release == doc.end() || !release->is_string() || release->get<std::string>().empty() ||
            !IsPlainText(release->get<std::string>(), kMaxReleaseChars))
            return Fail(error, "\"release\" is missing, empty or not a line of text");
        std::string date;
        if (const auto d = doc.find("date"); d != doc.end()) {
            if (!d->is_string() || !IsPlainText(d->get<std::string>(), kMaxDateChars))
                return Fail(error, "\"date\" is not a short line of text");
            date = d->get<std::string>();
        }
        m_set->SetOrigin(release->get<std::string>(), date, m_source, m_signedBy);
        return true;
    }

    bool ReadImages(const json& doc, std::string& error) {
        const auto images = doc.find("images");
        if (images == doc.end() || !images->is_object() || images->empty())
            return Fail(error, "\"images\" is missing or lists no image");
        for (const auto& [name, listed] : images->items()) {
            if (!IsImageName(name))
                return Fail(error, "unknown image \"" + name +
                                       "\" (images are named A to N, PXA271 and FPGA)");
            if (!ReadImage(name, listed, error))
                return false;
        }
        return true;
    }

    bool ReadImage(const std::string& name, const json& listed, std::string& error) {
        const std::string what = "image " + name;
        if (!listed.is_object())
            return Fail(error, what + " is not an object with \"file\", \"length\" and \"sha256\"");
        const auto file = listed.find("file");
        if (file == listed.end() || !file->is_string() ||
            !IsPlainFileName(file->get<std::string>()))
            return Fail(error, what + ": \"file\" must name a file in the package folder");
        const auto length = listed.find("length");
        if (length == listed.end() || !length->is_number_unsigned())
            return Fail(error, what + ": \"length\" is missing or not a number of bytes");
        if (length->get<std::uint64_t>() == 0 || length->get<std::uint64_t>() > kMaxImageBytes)
            return Fail(error,
                        what + FormatAnsi(": \"length\" must be 1 to %u bytes", kMaxImageBytes));
        const auto sha = listed.find("sha256");
        if (sha == listed.end() || !sha->is_string() || !IsSha256Text(sha->get<std::string>()))
            return Fail(error, what + ": \"sha256\" must be 64 hexadecimal digits");

        const std::string fileName = file->get<std::string>();
        const auto bytes = static_cast<std::uint32_t>(length->get<std::uint64_t>());
        std::string fileError;
        const auto view = m_files(name, fileName, bytes, *m_set, fileError);
        if (!view) {
            error = Where(fileName) + ": " + fileError;
            return false;
        }
        if (view->length != bytes) {
            error = Where(fileName) +
                    FormatAnsi(": %u bytes, but manifest.json says %u", view->length, bytes);
            return false;
        }
        const std::string actual = Sha256Hex(view->data, view->length);
        if (actual != AsciiLower(sha->get<std::string>())) {
            error = Where(fileName) + ": its SHA-256 is not the one manifest.json gives: the file "
                                      "was changed or damaged";
            return false;
        }
        if (IsRecordImageName(name)) {
            if (const std::string layout = CheckRecordLayout(view->data, view->length);
                !layout.empty()) {
                error = Where(fileName) + " (image " + name + "): " + layout;
                return false;
            }
        }
        m_set->AddImage({name, fileName, view->data, view->length, actual});
        return true;
    }

    bool ReadEntries(const json& doc, std::string& error) {
        std::vector<CatalogueEntry> added;
        std::vector<std::u16string_view> taken; // identifiers the package's entries claim
        if (const auto entries = doc.find("entries"); entries != doc.end()) {
            if (!entries->is_array())
                return Fail(error, "\"entries\" is not a list");
            int number = kFirstPackageEntry;
            for (const json& written : *entries) {
                CatalogueEntry entry{};
                entry.number = number++;
                if (!ReadEntry(written, entry, taken, error))
                    return false;
                added.push_back(entry);
            }
        }
        // The built-in entries keep every identifier the package does not take over; an entry
        // left with none goes.
        std::vector<CatalogueEntry> all;
        for (const CatalogueEntry& builtIn : Catalogue()) {
            CatalogueEntry kept = builtIn;
            kept.identifiers = {};
            std::size_t n = 0;
            for (std::size_t i = 0; i < builtIn.IdentifierCount(); ++i) {
                const auto id = builtIn.identifiers[i];
                const bool isTaken = std::any_of(taken.begin(), taken.end(),
                                                 [&](auto t) { return IdentifiersEqual(t, id); });
                if (!isTaken)
                    kept.identifiers[n++] = id;
            }
            if (n > 0)
                all.push_back(kept);
        }
        all.insert(all.end(), added.begin(), added.end());
        m_set->SetEntries(std::move(all));
        return true;
    }

    bool ReadEntry(const json& written, CatalogueEntry& entry,
                   std::vector<std::u16string_view>& taken, std::string& error) {
        const std::string what = FormatAnsi("entry %d", entry.number - kFirstPackageEntry + 1);
        if (!written.is_object())
            return Fail(error, what + " of \"entries\" is not an object");
        const auto ids = written.find("identifiers");
        if (ids == written.end() || !ids->is_array() || ids->empty() ||
            ids->size() > kMaxIdentifiers)
            return Fail(error, what + ": \"identifiers\" must list 1 to 4 identifiers");
        std::size_t n = 0;
        for (const json& id : *ids) {
            if (!id.is_string() || !IsIdentifier(id.get<std::string>()))
                return Fail(error, what + ": an identifier must be 1 to 32 printable characters "
                                          "without blanks or commas");
            const std::u16string text = FromAnsi(id.get<std::string>());
            if (std::any_of(taken.begin(), taken.end(),
                            [&](auto t) { return IdentifiersEqual(t, text); }))
                return Fail(error,
                            what + ": identifier \"" + id.get<std::string>() + "\" is named twice");
            entry.identifiers[n++] = m_set->Keep(text);
            taken.push_back(entry.identifiers[n - 1]);
        }
        const std::string label = what + " (" + ToAnsi(entry.identifiers[0]) + ")";
        if (const auto name = written.find("name"); name != written.end()) {
            if (!name->is_string() || !IsPlainText(name->get<std::string>(), kMaxNameChars))
                return Fail(error, label + ": \"name\" must be a short line of text");
            entry.displayName = m_set->Keep(FromUtf8(name->get<std::string>()));
        }
        entry.mode = ImageMode::Single;
        if (const auto mode = written.find("mode"); mode != written.end()) {
            if (*mode == "two-stage")
                entry.mode = ImageMode::TwoStage;
            else if (*mode != "single")
                return Fail(error, label + ": \"mode\" must be \"single\" or \"two-stage\"");
        }
        entry.baud = BaudRule::Unchanged;
        if (const auto baud = written.find("baud"); baud != written.end()) {
            if (*baud == "115200")
                entry.baud = BaudRule::Always115200;
            else if (*baud == "115200 if S form")
                entry.baud = BaudRule::SForm115200;
            else if (*baud != "unchanged")
                return Fail(error, label + ": \"baud\" must be \"unchanged\", \"115200\" or "
                                           "\"115200 if S form\"");
        }
        const auto image = written.find("image");
        if (entry.mode == ImageMode::TwoStage) {
            if (image != written.end() && *image != "PXA271+FPGA")
                return Fail(error, label + ": a two-stage entry sends \"PXA271+FPGA\"");
        } else {
            if (image == written.end() || !image->is_string() ||
                !IsRecordImageName(image->get<std::string>()))
                return Fail(error, label + ": \"image\" must name an image A to N");
            entry.image = image->get<std::string>()[0];
        }
        for (const std::string& needed : FirmwareSet::ImagesOf(entry)) {
            if (!m_set->Image(needed))
                return Fail(error,
                            label + " names image " + needed + ", which is not in this package");
        }
        return true;
    }

    const PackageFiles& m_files;
    std::string m_source;
    std::string m_signedBy;
    std::shared_ptr<FirmwareSet> m_set;
};

} // namespace

std::string CheckRecordLayout(const std::uint8_t* data, std::uint32_t length) {
    if (length == 0)
        return "it holds no records";
    if (length % kRecordSize != 0)
        return FormatAnsi("%u bytes are not whole 129-byte records: the last record has only "
                          "%u of its 129 bytes",
                          length, length % kRecordSize);
    bool seen24 = false;
    for (std::uint32_t offset = 0; offset < length; offset += kRecordSize) {
        const std::uint8_t type = data[offset];
        if (type != 24 && type != 25)
            return FormatAnsi("the record at byte %u has record type %u; only types 25 and 24 "
                              "may occur",
                              offset, type);
        if (type == 25 && seen24)
            return FormatAnsi("the record at byte %u has type 25 after type-24 records; an image "
                              "is one run of type-25 records followed by one run of type-24 "
                              "records",
                              offset);
        seen24 = seen24 || type == 24;
    }
    if (!seen24)
        return "it has no type-24 records; an image ends with a run of type-24 records";
    return {};
}

void AddKeyFolder(const std::string& folder, TrustedKeys& trusted) {
    trusted.searched.push_back(folder);
    const fs::path dir = PathFromUtf8(folder);
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return;
    std::vector<fs::path> files;
    for (const auto& item : fs::directory_iterator(dir, ec)) {
        if (item.path().extension() == ".pub")
            files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        // Not noted as searched again: the folder is.
        MinisignKey key;
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!ReadSmallFile(file, kMaxKeyFileBytes, bytes, error) ||
            !ParsePublicKey(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), key,
                error)) {
            trusted.problems.push_back(PathToUtf8(file) + ": " + error);
            continue;
        }
        key.file = PathToUtf8(file);
        trusted.keys.push_back(key);
    }
}

bool AddKeyFile(const std::string& file, TrustedKeys& trusted) {
    trusted.searched.push_back(file);
    MinisignKey key;
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadSmallFile(PathFromUtf8(file), kMaxKeyFileBytes, bytes, error) ||
        !ParsePublicKey(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        key, error)) {
        trusted.problems.push_back(file + ": " + error);
        return false;
    }
    key.file = file;
    trusted.keys.push_back(key);
    return true;
}

std::string CheckManifestSignature(const std::vector<std::uint8_t>& manifest,
                                   std::string_view signatureText, const TrustedKeys& trusted,
                                   const std::string& manifestName,
                                   const std::string& signatureName, std::string& signedBy) {
    MinisignSignature signature;
    std::string error;
    if (!ParseSignature(signatureText, signature, error))
        return signatureName + ": " + error;
    const std::string looked =
        trusted.searched.empty()
            ? std::string()
            : " Trusted keys were looked for in: " + Join(trusted.searched) + ".";
    const std::string problems = trusted.problems.empty()
                                     ? std::string()
                                     : " Unreadable key files: " + Join(trusted.problems) + ".";
    const SignatureCheck check =
        VerifySignature(manifest.data(), manifest.size(), signature, trusted.keys);
    switch (check.outcome) {
    case SignatureOutcome::Valid:
        signedBy = KeyIdText(check.key->id);
        return {};
    case SignatureOutcome::NoTrustedKey:
        return signatureName + ": there is no trusted public key to check the signature with." +
               looked + problems + " " + trusted.howToAdd;
    case SignatureOutcome::UnknownKey:
        return signatureName + ": signed with key " + KeyIdText(signature.keyId) +
               ", which is not a trusted key." + looked + problems;
    case SignatureOutcome::Invalid:
        break;
    }
    return manifestName + ": the signature does not match: the manifest (or the signature's "
                          "trusted comment) was changed after it was signed";
}

PackageResult BuildPackageSet(const std::vector<std::uint8_t>& manifest, const PackageFiles& files,
                              const std::string& source, const std::string& signedBy) {
    return ManifestReader(files, source, signedBy).Read(manifest);
}

PackageResult LoadPackage(const std::string& path, const TrustedKeys& trusted,
                          bool checkSignature) {
    std::error_code ec;
    fs::path folder = PathFromUtf8(path);
    if (folder.extension() == ".zip")
        return Refuse(path + ": a .zip package is not read by this updater; unpack it and give "
                             "the folder");
    if (fs::is_regular_file(folder, ec) && folder.filename() == kManifestName)
        folder = folder.parent_path().empty() ? fs::path(".") : folder.parent_path();
    if (!fs::exists(folder, ec))
        return Refuse(path + ": no such firmware package (folder not found)");
    if (!fs::is_directory(folder, ec))
        return Refuse(path + ": not a firmware package (a package is a folder with manifest.json, "
                             "the image files and manifest.json.minisig)");
    const std::string where = PathToUtf8(folder);
    const fs::path manifestPath = folder / kManifestName;
    std::vector<std::uint8_t> manifest;
    std::string error;
    if (!ReadSmallFile(manifestPath, kMaxManifestBytes, manifest, error))
        return Refuse(PathToUtf8(manifestPath) + ": " + error +
                      (error == "missing" ? " (this folder is not a firmware package)" : ""));

    std::string signedBy;
    if (checkSignature) {
        const fs::path sigPath = folder / kSignatureName;
        std::vector<std::uint8_t> sigBytes;
        if (!ReadSmallFile(sigPath, kMaxSignatureBytes, sigBytes, error))
            return Refuse(PathToUtf8(sigPath) + ": " + error +
                          (error == "missing" ? ": the package is not signed" : ""));
        error = CheckManifestSignature(
            manifest,
            std::string_view(reinterpret_cast<const char*>(sigBytes.data()), sigBytes.size()),
            trusted, PathToUtf8(manifestPath), PathToUtf8(sigPath), signedBy);
        if (!error.empty())
            return Refuse(error);
    }

    const PackageFiles files = [&folder](const std::string&, const std::string& file,
                                         std::uint32_t length, FirmwareSet& set,
                                         std::string& fileError) -> std::optional<ImageView> {
        std::vector<std::uint8_t> bytes;
        const fs::path filePath = folder / PathFromUtf8(file);
        std::error_code sizeError;
        // The manifest's length bounds the read: a file that is longer is refused by its size.
        if (fs::is_regular_file(filePath, sizeError)) {
            const auto size = fs::file_size(filePath, sizeError);
            if (!sizeError && size != length) {
                fileError = FormatAnsi("%llu bytes, but manifest.json says %u",
                                       static_cast<unsigned long long>(size), length);
                return std::nullopt;
            }
        }
        if (!ReadSmallFile(filePath, length, bytes, fileError)) {
            if (fileError == "missing")
                fileError = "missing (manifest.json lists it)";
            return std::nullopt;
        }
        const auto count = static_cast<std::uint32_t>(bytes.size());
        return ImageView{set.Keep(std::move(bytes)), count};
    };
    PackageResult result = BuildPackageSet(manifest, files, where, signedBy);
    if (result.firmware)
        result.manifest = std::move(manifest);
    return result;
}

} // namespace orvane::firmware
