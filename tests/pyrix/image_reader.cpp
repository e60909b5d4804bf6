#include "image_reader.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <png.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace {

std::string Slurp(const std::string& path) {
    std::string bytes = ReadFileBytes(path);
    if (bytes.empty()) throw std::runtime_error("cannot read " + path);
    return bytes;
}

DecodedImage ReadPam(const std::string& data) {
    std::istringstream header(data);
    std::string token;
    DecodedImage image;
    int maxval = 0, depth = 0;
    std::string tupltype;
    header >> token;
    if (token != "P7") throw std::runtime_error("not a PAM file");
    while (header >> token && token != "ENDHDR") {
        if (token == "WIDTH")
            header >> image.width;
        else if (token == "HEIGHT")
            header >> image.height;
        else if (token == "DEPTH")
            header >> depth;
        else if (token == "MAXVAL")
            header >> maxval;
        else if (token == "TUPLTYPE")
            header >> tupltype;
    }
    if (depth != 4 || tupltype != "RGB_ALPHA" || (maxval != 255 && maxval != 65535)) {
        throw std::runtime_error("unexpected PAM header");
    }
    const size_t start = static_cast<size_t>(header.tellg()) + 1;  // one newline after ENDHDR
    image.bits = maxval == 255 ? 8 : 16;
    const size_t count = 4 * static_cast<size_t>(image.width) * image.height;
    const size_t bytes = count * (image.bits / 8);
    if (data.size() != start + bytes) throw std::runtime_error("PAM size mismatch");
    const auto* p = reinterpret_cast<const uint8_t*>(data.data() + start);
    for (size_t i = 0; i < count; ++i) {
        image.rgba.push_back(image.bits == 8 ? p[i] : (p[2 * i] << 8 | p[2 * i + 1]));
    }
    return image;
}

DecodedImage ReadRgba32f(const std::string& data) {
    std::istringstream header(data);
    std::string magic;
    DecodedImage image;
    header >> magic >> image.width >> image.height;
    if (magic != "RGBA32F") throw std::runtime_error("not an RGBA32F file");
    const size_t start = static_cast<size_t>(header.tellg()) + 1;
    image.bits = 32;
    const size_t count = 4 * static_cast<size_t>(image.width) * image.height;
    if (data.size() != start + 4 * count) throw std::runtime_error("RGBA32F size mismatch");
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits = 0;
        for (int b = 0; b < 4; ++b) {
            bits |= static_cast<uint32_t>(static_cast<uint8_t>(data[start + 4 * i + b])) << (8 * b);
        }
        float v;
        std::memcpy(&v, &bits, 4);
        image.rgba.push_back(v);
    }
    return image;
}

DecodedImage ReadPng(const std::string& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        throw std::runtime_error(std::string("libpng: ") + png.message);
    }
    // Only the header through the simplified reader; samples through the classic one so that
    // 16-bit values come back as stored.
    png_image_free(&png);
    FILE* file = std::fopen(path.c_str(), "rb");
    png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(reader);
    if (setjmp(png_jmpbuf(reader))) {
        png_destroy_read_struct(&reader, &info, nullptr);
        std::fclose(file);
        throw std::runtime_error("libpng failed to read " + path);
    }
    png_init_io(reader, file);
    png_read_png(reader, info, PNG_TRANSFORM_IDENTITY, nullptr);
    DecodedImage image;
    image.width = static_cast<int32_t>(png_get_image_width(reader, info));
    image.height = static_cast<int32_t>(png_get_image_height(reader, info));
    image.bits = png_get_bit_depth(reader, info);
    const bool rgba = png_get_color_type(reader, info) == PNG_COLOR_TYPE_RGBA;
    png_bytepp rows = png_get_rows(reader, info);
    for (int32_t y = 0; rgba && y < image.height; ++y) {
        for (int32_t i = 0; i < 4 * image.width; ++i) {
            image.rgba.push_back(image.bits == 8 ? rows[y][i]
                                                 : (rows[y][2 * i] << 8 | rows[y][2 * i + 1]));
        }
    }
    png_destroy_read_struct(&reader, &info, nullptr);
    std::fclose(file);
    if (!rgba) throw std::runtime_error("PNG is not RGBA");
    return image;
}

DecodedImage ReadExr(const std::string& path) {
    Imf::InputFile file(path.c_str());
    const auto window = file.header().dataWindow();
    DecodedImage image;
    image.width = window.max.x - window.min.x + 1;
    image.height = window.max.y - window.min.y + 1;
    image.bits = 32;
    for (const char* name : {"R", "G", "B", "A"}) {
        const Imf::Channel* channel = file.header().channels().findChannel(name);
        if (channel == nullptr || channel->type != Imf::FLOAT) {
            throw std::runtime_error("EXR channel missing or not float");
        }
    }
    std::vector<float> samples(4 * static_cast<size_t>(image.width) * image.height);
    Imf::FrameBuffer buffer;
    const char* names[4] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c) {
        buffer.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(samples.data() + c),
                                           16, 16 * static_cast<size_t>(image.width)));
    }
    file.setFrameBuffer(buffer);
    file.readPixels(window.min.y, window.max.y);
    image.rgba.assign(samples.begin(), samples.end());
    return image;
}

}  // namespace

DecodedImage ReadImage(const std::string& path) {
    const auto dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : path.substr(dot);
    if (extension == ".png") return ReadPng(path);
    if (extension == ".exr") return ReadExr(path);
    if (extension == ".pam") return ReadPam(Slurp(path));
    if (extension == ".rgba32f") return ReadRgba32f(Slurp(path));
    throw std::runtime_error("unknown image type: " + path);
}
