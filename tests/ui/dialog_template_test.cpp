// The About dialog template: its encoded bytes field by field, the committed resource script
// against the table, and (where a resource compiler is installed) the compiler's bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/dialog_resource.h"

namespace pyrix {

namespace {

// An independent reader of the extended dialog template format.
class Reader {
  public:
    explicit Reader(const std::vector<uint8_t>& data) : data_(data) {}

    uint16_t Word() {
        Need(2);
        const uint16_t v = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return v;
    }
    uint32_t Dword() {
        const uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    uint8_t Byte() {
        Need(1);
        return data_[at_++];
    }
    std::string Text() {
        std::string text;
        for (uint16_t c = Word(); c != 0; c = Word()) {
            if (c > 0x7F) throw std::runtime_error("unexpected non-ASCII character");
            text += static_cast<char>(c);
        }
        return text;
    }
    void Align() { at_ = (at_ + 3) & ~std::size_t{3}; }
    std::size_t Offset() const { return at_; }

  private:
    void Need(std::size_t n) const {
        if (at_ + n > data_.size()) throw std::runtime_error("template ends early");
    }
    const std::vector<uint8_t>& data_;
    std::size_t at_ = 0;
};

struct ExpectedControl {
    int32_t id;
    uint16_t classOrdinal;
    uint32_t style;
    int16_t x, y, width, height;
    const char* text;  // null: one of the About text lines, checked elsewhere
};

constexpr uint32_t kStatic = 0x50020000;  // WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
constexpr uint32_t kButton = 0x5001000B;  // WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW

const ExpectedControl kExpected[] = {
    {1002, 0x82, kStatic, 12, 9, 286, 14, "vexo_Pyrix"},
    {-1, 0x82, kStatic, 12, 29, 286, 10, nullptr},
    {-1, 0x82, kStatic, 12, 42, 286, 10, "vexolab.example"},
    {-1, 0x82, kStatic, 12, 64, 286, 10, nullptr},
    {-1, 0x82, kStatic, 12, 76, 286, 10, nullptr},
    {-1, 0x82, kStatic, 12, 88, 286, 10, nullptr},
    {1001, 0x80, kButton, 140, 110, 76, 12, "Visit Website"},
    {2, 0x80, kButton, 222, 110, 76, 12, "Close"},
};

TEST(DialogTemplate, EncodesTheAboutDialogFieldByField) {
    EXPECT_EQ(kAboutDialogTemplate.resourceId, 16001);
    EXPECT_EQ(kAboutDialogTemplate.language, 1033);

    const std::vector<uint8_t> bytes = EncodeDialogTemplate(kAboutDialogTemplate);
    Reader r(bytes);
    EXPECT_EQ(r.Word(), 1);             // version
    EXPECT_EQ(r.Word(), 0xFFFF);        // extended
    EXPECT_EQ(r.Dword(), 0u);           // help id
    EXPECT_EQ(r.Dword(), 0x00010000u);  // WS_EX_CONTROLPARENT
    EXPECT_EQ(r.Dword(),
              0x80C800C0u);  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    const uint16_t count = r.Word();
    ASSERT_EQ(count, 8);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 310);
    EXPECT_EQ(r.Short(), 130);
    EXPECT_EQ(r.Word(), 0);  // no menu
    EXPECT_EQ(r.Word(), 0);  // standard class
    EXPECT_EQ(r.Text(), "About");
    EXPECT_EQ(r.Word(), 8);    // points
    EXPECT_EQ(r.Word(), 400);  // normal weight
    EXPECT_EQ(r.Byte(), 0);    // not italic
    EXPECT_EQ(r.Byte(), 1);    // DEFAULT_CHARSET
    EXPECT_EQ(r.Text(), "Segoe UI");

    for (const ExpectedControl& e : kExpected) {
        SCOPED_TRACE("control " + std::to_string(e.id) + " at y " + std::to_string(e.y));
        r.Align();
        EXPECT_EQ(r.Offset() % 4, 0u);
        EXPECT_EQ(r.Dword(), 0u);  // help id
        EXPECT_EQ(r.Dword(), 0u);  // extended style
        EXPECT_EQ(r.Dword(), e.style);
        EXPECT_EQ(r.Short(), e.x);
        EXPECT_EQ(r.Short(), e.y);
        EXPECT_EQ(r.Short(), e.width);
        EXPECT_EQ(r.Short(), e.height);
        EXPECT_EQ(static_cast<int32_t>(r.Dword()), e.id);
        EXPECT_EQ(r.Word(), 0xFFFF);
        EXPECT_EQ(r.Word(), e.classOrdinal);
        const std::string text = r.Text();
        if (e.text != nullptr) {
            EXPECT_EQ(text, e.text);
        }
        EXPECT_FALSE(text.empty());
        EXPECT_LE(text.size(), 71u) << "wider than the 286-unit static";
        EXPECT_EQ(r.Word(), 0);  // no creation data
    }
    EXPECT_EQ(r.Offset(), bytes.size()) << "nothing after the last control";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(DialogResourceScript, CommittedScriptIsGeneratedFromTheTable) {
    const std::string committed =
        ReadFile(std::string(PYRIX_SOURCE_DIR) + "/resources/about_dialog.rc");
    ASSERT_FALSE(committed.empty());
    EXPECT_EQ(committed, WriteDialogResourceScript(kAboutDialogTemplate, "IDD_ABOUT"))
        << "regenerate it: cmake --build <build dir> --target pyrix_about_rc_update";
}

TEST(DialogResourceScript, RefusesWhatItCannotWriteExactly) {
    DialogControl control = {7,  DialogClass::kStatic, 0x50020000, 0, 0, 10,
                             10, "a \"quoted\" word"};
    DialogTemplate dialog = kAboutDialogTemplate;
    dialog.controls = &control;
    dialog.controlCount = 1;
    EXPECT_NE(WriteDialogResourceScript(dialog, "IDD_X").find("\"a \"\"quoted\"\" word\""),
              std::string::npos);

    control.style = 0x50000000;  // lacks LTEXT's WS_GROUP
    EXPECT_THROW(WriteDialogResourceScript(dialog, "IDD_X"), std::invalid_argument);
    control.style = 0x50020000;
    control.text = "caf\xC3\xA9";
    EXPECT_THROW(WriteDialogResourceScript(dialog, "IDD_X"), std::invalid_argument);
}

// ---- The resource compiler's own bytes
// -----------------------------------------------------------

uint32_t Le32(const std::string& data, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(data[at + i]);
    return v;
}
uint16_t Le16(const std::string& data, std::size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(data[at]) |
                                 (static_cast<uint8_t>(data[at + 1]) << 8));
}

// The data of the resource with numeric type, id and language in a .res file, or empty.
std::vector<uint8_t> FindResource(const std::string& res, uint16_t type, uint16_t id,
                                  uint16_t language) {
    std::size_t at = 0;
    while (at + 32 <= res.size()) {
        const uint32_t data_size = Le32(res, at);
        const uint32_t header_size = Le32(res, at + 4);
        // Type and name as ordinals (0xFFFF, value); named resources are of no interest here.
        const bool ordinals = Le16(res, at + 8) == 0xFFFF && Le16(res, at + 12) == 0xFFFF;
        if (ordinals && Le16(res, at + 10) == type && Le16(res, at + 14) == id &&
            Le16(res, at + 22) == language) {
            const std::size_t data = at + header_size;
            return std::vector<uint8_t>(
                res.begin() + static_cast<std::ptrdiff_t>(data),
                res.begin() + static_cast<std::ptrdiff_t>(data + data_size));
        }
        at += header_size + ((data_size + 3) & ~3u);
    }
    return {};
}

TEST(DialogResourceScript, ResourceCompilerProducesTheEncodedBytes) {
    const std::string windres = PYRIX_WINDRES;
    if (windres.empty()) GTEST_SKIP() << "no resource compiler (windres) installed";
    const std::string res = ::testing::TempDir() + "about_dialog_test.res";
    const std::string command = windres + " -i " + std::string(PYRIX_SOURCE_DIR) +
                                "/resources/about_dialog.rc -O res -o " + res;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<uint8_t> compiled =
        FindResource(ReadFile(res), 5 /* RT_DIALOG */, 16001, 1033);
    std::remove(res.c_str());
    ASSERT_FALSE(compiled.empty()) << "no dialog 16001 in language 1033";
    EXPECT_EQ(compiled, EncodeDialogTemplate(kAboutDialogTemplate));
}

}  // namespace

}  // namespace pyrix
