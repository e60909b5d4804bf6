// Writes the Windows version resource (VERSIONINFO) of the plug-in, the plain version text and
// the installer's product facts from the registration table, which the About text also reads, so
// that Explorer's Properties tab, the PiPL, the About dialog, the release package's name and the
// installed-programs entry show one number and one maker. Runs on the build machine, also when
// the plug-in itself is cross-built.
//
// Usage: pyrix_version_gen <version.rc> <version.txt> <product.txt>
#include <cstdio>
#include <string>

#include "host_api/registration.h"

namespace {

using namespace pyrix;

// The resource compiler's string syntax: quotes doubled, nothing else needs escaping in ours.
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) quoted += (c == '"') ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string VersionResource() {
    namespace r = registration;
    const std::string numbers =
        std::to_string(r::kVersionMajor) + "," + std::to_string(r::kVersionMinor) + "," +
        std::to_string(r::kVersionBugFix) + "," + std::to_string(r::kVersionBuild);
    const std::string fileVersion =
        std::string(r::kVersionText) + "." + std::to_string(r::kVersionBuild);
    const std::string name = r::kEffectName;
    const struct {
        const char* key;
        std::string value;
    } strings[] = {
        {"CompanyName", r::kMakerName},
        {"FileDescription", name + " procedural fire effect (" + r::kCategory + ")"},
        {"FileVersion", fileVersion},
        {"InternalName", name},
        {"LegalCopyright", r::kLicenceLine},
        {"OriginalFilename", name + ".aex"},
        {"ProductName", name},
        {"ProductVersion", r::kVersionText},
    };
    std::string rc = "// Generated from host_api/registration.h; do not edit.\n";
    rc += "1 VERSIONINFO\n";
    rc += "FILEVERSION " + numbers + "\n";
    rc += "PRODUCTVERSION " + numbers + "\n";
    rc += "FILEFLAGSMASK 0x3F\nFILEFLAGS 0x0\n";
    rc += "FILEOS 0x40004\n";  // VOS_NT_WINDOWS32
    rc += "FILETYPE 0x2\n";    // VFT_DLL
    rc += "FILESUBTYPE 0x0\nBEGIN\n";
    rc += "  BLOCK \"StringFileInfo\"\n  BEGIN\n";
    // English (United States) in Unicode, as the other resources' language.
    rc += "    BLOCK \"040904B0\"\n    BEGIN\n";
    for (const auto& s : strings) {
        rc += std::string("      VALUE \"") + s.key + "\", " + Quoted(s.value) + "\n";
    }
    rc += "    END\n  END\n";
    rc += "  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", 0x409, 1200\n  END\n";
    rc += "END\n";
    return rc;
}

// NAME=value lines that tools/package/make_msi.py passes to the installer's source as its
// variables.
std::string ProductFacts() {
    namespace r = registration;
    return std::string("ProductName=") + r::kEffectName + "\nManufacturer=" + r::kMakerName +
           "\nProductVersion=" + r::kVersionText + "\nSupportUrl=" + r::kSupportUrl + "\n";
}

bool WriteFile(const char* path, const std::string& text) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <version.rc> <version.txt> <product.txt>\n", argv[0]);
        return 2;
    }
    if (!WriteFile(argv[1], VersionResource()) ||
        !WriteFile(argv[2], std::string(pyrix::registration::kVersionText) + "\n") ||
        !WriteFile(argv[3], ProductFacts())) {
        std::perror("pyrix_version_gen");
        return 1;
    }
    return 0;
}
