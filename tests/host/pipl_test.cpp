#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "host/entry_points.h"

namespace pyrix {

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadPipl() {
    std::ifstream file(PYRIX_PIPL_BIN, std::ios::binary);
    EXPECT_TRUE(file.good()) << "cannot open " << PYRIX_PIPL_BIN;
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Spells out bytes as they appear in the file.
struct Expected {
    Bytes bytes;
    Expected& operator()(std::initializer_list<uint8_t> raw) {
        bytes.insert(bytes.end(), raw.begin(), raw.end());
        return *this;
    }
    Expected& operator()(const char* text) {
        bytes.insert(bytes.end(), text, text + std::strlen(text));
        return *this;
    }
};

TEST(PiplTest, BytesMatchTheResourceLayout) {
    Expected e;
    e({0x01, 0x00})({0, 0, 0, 0})({0x0D, 0, 0, 0});  // version 1, reserved, 13 properties
    e("MIB8")("dnik")({0, 0, 0, 0})({4, 0, 0, 0})("TKFe");
    e("MIB8")("eman")({0, 0, 0, 0})({12, 0, 0, 0})({10})("vexo_Pyrix")({0});
    e("MIB8")("gtac")({0, 0, 0, 0})({8, 0, 0, 0})({7})("Vexolab");
    e("MIB8")("4668")({0, 0, 0, 0})({12, 0, 0, 0})("EffectMain")({0, 0});
    e("MIB8")("RVPe")({0, 0, 0, 0})({4, 0, 0, 0})({2, 0, 0, 0});
    e("MIB8")("RVSe")({0, 0, 0, 0})({4, 0, 0, 0})({13, 0, 28, 0});
    e("MIB8")("REVe")({0, 0, 0, 0})({4, 0, 0, 0})({0x01, 0x06, 0x08, 0x00});
    e("MIB8")("FNIe")({0, 0, 0, 0})({2, 0, 0, 0})({0, 0})({0, 0});
    e("MIB8")("OLGe")({0, 0, 0, 0})({4, 0, 0, 0})({0x24, 0x84, 0x00, 0x02});
    e("MIB8")("2LGe")({0, 0, 0, 0})({4, 0, 0, 0})({0x00, 0x14, 0x00, 0x2A});
    e("MIB8")("ANMe")({0, 0, 0, 0})({16, 0, 0, 0})({14})("Tazu Pyrix GPU")({0});
    e("MIB8")("LFea")({0, 0, 0, 0})({4, 0, 0, 0})({0, 0, 0, 0});
    e("MIB8")("LRUe")({0, 0, 0, 0})({24, 0, 0, 0})({23})("https://vexolab.example");

    const Bytes actual = ReadPipl();
    ASSERT_EQ(actual.size(), e.bytes.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i], e.bytes[i]) << "first difference at byte " << i;
    }
}

uint32_t Little32(const Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// The properties by key as they are stored ("REVe" for 'eVER').
std::map<std::string, Bytes> PropertiesByStoredKey(const Bytes& pipl) {
    std::map<std::string, Bytes> properties;
    size_t at = 10;
    const uint32_t count = Little32(pipl, 6);
    for (uint32_t i = 0; i < count && at + 16 <= pipl.size(); ++i) {
        const std::string key(pipl.begin() + static_cast<long>(at + 4),
                              pipl.begin() + static_cast<long>(at + 8));
        const uint32_t length = Little32(pipl, at + 12);
        at += 16;
        if (at + length > pipl.size()) break;
        properties[key] = Bytes(pipl.begin() + static_cast<long>(at),
                                pipl.begin() + static_cast<long>(at + length));
        at += (length + 3) / 4 * 4;
    }
    return properties;
}

TEST(PiplTest, VersionAndFlagsEqualWhatGlobalSetupWrites) {
    PF_OutData out_data;
    std::memset(&out_data, 0, sizeof(out_data));
    ASSERT_EQ(EffectMain(PF_Cmd_GLOBAL_SETUP, nullptr, &out_data, nullptr, nullptr, nullptr), 0);

    std::map<std::string, Bytes> properties = PropertiesByStoredKey(ReadPipl());
    ASSERT_EQ(properties.size(), 13u);
    ASSERT_EQ(properties["REVe"].size(), 4u);
    ASSERT_EQ(properties["OLGe"].size(), 4u);
    ASSERT_EQ(properties["2LGe"].size(), 4u);
    EXPECT_EQ(Little32(properties["REVe"], 0), out_data.my_version);
    EXPECT_EQ(Little32(properties["OLGe"], 0), static_cast<uint32_t>(out_data.out_flags));
    EXPECT_EQ(Little32(properties["2LGe"], 0), static_cast<uint32_t>(out_data.out_flags2));
}

}  // namespace

}  // namespace pyrix
