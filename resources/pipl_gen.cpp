// Writes the PiPL resource bytes from the registration table. Runs on the build machine, also
// when the plug-in itself is cross-built, so it uses nothing but the standard library.
//
// Usage: pyrix_pipl_gen <output file>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_api/registration.h"

namespace {

class PiplWriter {
  public:
    void U16(uint32_t value) {
        bytes_.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes_.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    }
    void U32(uint32_t value) {
        U16(value & 0xFFFF);
        U16(value >> 16);
    }
    // A four-character code as a big-endian number, stored little-endian: 'kind' -> "dnik".
    void Code(const char (&code)[5]) {
        U32((static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
            (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
            (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) |
            static_cast<uint32_t>(static_cast<uint8_t>(code[3])));
    }

    void Property(const char (&key)[5], const std::vector<uint8_t>& data, uint32_t length) {
        Code("8BIM");
        Code(key);
        U32(0);  // property id
        U32(length);
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        while (bytes_.size() % 4 != 0) bytes_.push_back(0);
        ++count_;
    }
    void U32Property(const char (&key)[5], uint32_t value) { Property(key, Little(value, 4), 4); }
    void U16PairProperty(const char (&key)[5], uint32_t first, uint32_t second) {
        std::vector<uint8_t> data = Little(first, 2);
        const std::vector<uint8_t> tail = Little(second, 2);
        data.insert(data.end(), tail.begin(), tail.end());
        Property(key, data, 4);
    }
    void U16Property(const char (&key)[5], uint32_t value) {
        Property(key, Little(value, 2), 2);  // the padding after it is not counted
    }
    bool CountedStringProperty(const char (&key)[5], const char* text) {
        const size_t length = std::strlen(text);
        if (length > 255) return false;
        std::vector<uint8_t> data{static_cast<uint8_t>(length)};
        data.insert(data.end(), text, text + length);
        Property(key, data, PaddedLength(data.size()));
        return true;
    }
    void CStringProperty(const char (&key)[5], const char* text) {
        const std::vector<uint8_t> data(text, text + std::strlen(text) + 1);
        Property(key, data, PaddedLength(data.size()));
    }

    uint32_t count() const { return count_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    static std::vector<uint8_t> Little(uint32_t value, int size) {
        std::vector<uint8_t> data;
        for (int i = 0; i < size; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return data;
    }
    // String properties count the padding that Property writes after them.
    static uint32_t PaddedLength(size_t size) { return static_cast<uint32_t>((size + 3) / 4 * 4); }

    std::vector<uint8_t> bytes_;
    uint32_t count_ = 0;
};

bool BuildProperties(PiplWriter& pipl) {
    using namespace pyrix::registration;
    pipl.U32Property("kind", static_cast<uint32_t>(kEffectKind));
    bool ok = pipl.CountedStringProperty("name", kEffectName);
    ok = pipl.CountedStringProperty("catg", kCategory) && ok;
    pipl.CStringProperty("8664", kEntryPointName);
    pipl.U16PairProperty("ePVR", kPiplVersionMajor, kPiplVersionMinor);
    pipl.U16PairProperty("eSVR", static_cast<uint32_t>(kApiVersionMajor),
                         static_cast<uint32_t>(kApiVersionMinor));
    pipl.U32Property("eVER", kEffectVersion);
    pipl.U16Property("eINF", static_cast<uint16_t>(kPiplEffectInfoFlags));
    pipl.U32Property("eGLO", static_cast<uint32_t>(kGlobalOutFlags));
    pipl.U32Property("eGL2", static_cast<uint32_t>(kGlobalOutFlags2));
    ok = pipl.CountedStringProperty("eMNA", kMatchName) && ok;
    pipl.U32Property("aeFL", static_cast<uint32_t>(kPiplReservedInfo));
    ok = pipl.CountedStringProperty("eURL", kSupportUrl) && ok;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    PiplWriter properties;
    if (!BuildProperties(properties)) {
        std::fprintf(stderr, "a PiPL string is longer than 255 characters\n");
        return 1;
    }
    PiplWriter pipl;
    pipl.U16(1);  // resource version
    pipl.U32(0);  // reserved
    pipl.U32(properties.count());
    std::vector<uint8_t> bytes = pipl.bytes();
    bytes.insert(bytes.end(), properties.bytes().begin(), properties.bytes().end());

    const std::string path = argv[1];
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "%s: write failed\n", path.c_str());
        std::remove(path.c_str());
        return 1;
    }
    return 0;
}
