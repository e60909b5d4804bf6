#include "tools/pyrix/image_writers.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#ifdef PYRIX_HAVE_PNG
#include <png.h>
#endif
#ifdef PYRIX_HAVE_WEBP
#include <webp/encode.h>
#endif
#ifdef PYRIX_HAVE_EXR
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#endif

#ifdef _WIN32
#include <process.h>
#define PYRIX_GETPID _getpid
#else
#include <unistd.h>
#define PYRIX_GETPID getpid
#endif

namespace pyrix::preview {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File OpenForWriting(const std::filesystem::path& path) {
#ifdef _WIN32
    File file(_wfopen(path.wstring().c_str(), L"wb"));
#else
    File file(std::fopen(path.c_str(), "wb"));
#endif
    if (!file) throw std::runtime_error(std::strerror(errno));
    return file;
}

void WriteBytes(FILE* file, const void* data, size_t size) {
    if (std::fwrite(data, 1, size, file) != size) {
        throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
    }
}

void CloseChecked(File file) {
    if (std::fclose(file.release()) != 0) {
        throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
    }
}

void PutBigEndian16(const uint16_t* samples, size_t count, std::vector<uint8_t>* out) {
    out->resize(count * 2);
    for (size_t i = 0; i < count; ++i) {
        (*out)[2 * i] = static_cast<uint8_t>(samples[i] >> 8);
        (*out)[2 * i + 1] = static_cast<uint8_t>(samples[i] & 0xFF);
    }
}

void PutLittleEndianFloats(const float* samples, size_t count, std::vector<uint8_t>* out) {
    out->resize(count * 4);
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &samples[i], 4);
        for (int b = 0; b < 4; ++b) (*out)[4 * i + b] = static_cast<uint8_t>(bits >> (8 * b));
    }
}

void WritePam(const std::filesystem::path& path, const FrameImage& image) {
    File file = OpenForWriting(path);
    const bool wide = image.depth != 8;
    const std::string header = "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " +
                               std::to_string(image.height) + "\nDEPTH 4\nMAXVAL " +
                               (wide ? "65535" : "255") + "\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    WriteBytes(file.get(), header.data(), header.size());
    const size_t samples = 4 * static_cast<size_t>(image.width);
    std::vector<uint8_t> row8(samples);
    std::vector<uint16_t> row16(samples);
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < image.height; ++y) {
        if (wide) {
            RowToRgba16(image, y, row16.data());
            PutBigEndian16(row16.data(), samples, &bytes);
            WriteBytes(file.get(), bytes.data(), bytes.size());
        } else {
            RowToRgba8(image, y, row8.data());
            WriteBytes(file.get(), row8.data(), row8.size());
        }
    }
    CloseChecked(std::move(file));
}

void WriteRgba32f(const std::filesystem::path& path, const FrameImage& image) {
    File file = OpenForWriting(path);
    const std::string header =
        "RGBA32F\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n";
    WriteBytes(file.get(), header.data(), header.size());
    const size_t samples = 4 * static_cast<size_t>(image.width);
    std::vector<float> row(samples);
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < image.height; ++y) {
        RowToRgbaFloat(image, y, row.data());
        PutLittleEndianFloats(row.data(), samples, &bytes);
        WriteBytes(file.get(), bytes.data(), bytes.size());
    }
    CloseChecked(std::move(file));
}

#ifdef PYRIX_HAVE_PNG
// libpng reports errors by longjmp; this function keeps no objects with destructors between
// setjmp and the calls that may jump, and returns the error text instead of throwing.
struct PngRows {
    std::vector<std::vector<uint8_t>> rows;
    std::vector<png_bytep> pointers;
};

const char* WritePngRows(FILE* file, int32_t width, int32_t height, int bitDepth, PngRows* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return "libpng could not start";
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return "libpng failed to write the image";
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 bitDepth, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    png_write_image(png, rows->pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return nullptr;
}

void WritePng(const std::filesystem::path& path, const FrameImage& image) {
    const bool wide = image.depth != 8;
    const size_t samples = 4 * static_cast<size_t>(image.width);
    PngRows rows;
    rows.rows.resize(static_cast<size_t>(image.height));
    std::vector<uint16_t> row16(samples);
    for (int32_t y = 0; y < image.height; ++y) {
        auto& row = rows.rows[static_cast<size_t>(y)];
        if (wide) {
            RowToRgba16(image, y, row16.data());
            PutBigEndian16(row16.data(), samples, &row);
        } else {
            row.resize(samples);
            RowToRgba8(image, y, row.data());
        }
        rows.pointers.push_back(row.data());
    }
    File file = OpenForWriting(path);
    if (const char* error =
            WritePngRows(file.get(), image.width, image.height, wide ? 16 : 8, &rows)) {
        throw std::runtime_error(error);
    }
    CloseChecked(std::move(file));
}
#endif

#ifdef PYRIX_HAVE_EXR
void WriteExr(const std::filesystem::path& path, const FrameImage& image) {
    const size_t samples = 4 * static_cast<size_t>(image.width);
    std::vector<float> rgba(samples * static_cast<size_t>(image.height));
    for (int32_t y = 0; y < image.height; ++y) {
        RowToRgbaFloat(image, y, rgba.data() + samples * static_cast<size_t>(y));
    }
    try {
        Imf::Header header(image.width, image.height);
        const char* names[4] = {"R", "G", "B", "A"};
        Imf::FrameBuffer buffer;
        for (int c = 0; c < 4; ++c) {
            header.channels().insert(names[c], Imf::Channel(Imf::FLOAT));
            buffer.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(rgba.data() + c),
                                               4 * sizeof(float), samples * sizeof(float)));
        }
        Imf::OutputFile file(path.u8string().c_str(), header);
        file.setFrameBuffer(buffer);
        file.writePixels(image.height);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("OpenEXR: ") + e.what());
    }
}
#endif

#ifdef PYRIX_HAVE_WEBP
void WriteWebp(const std::filesystem::path& path, const FrameImage& image) {
    const size_t stride = 4 * static_cast<size_t>(image.width);
    std::vector<uint8_t> rgba(stride * static_cast<size_t>(image.height));
    for (int32_t y = 0; y < image.height; ++y) RowToRgba8(image, y, rgba.data() + stride * y);
    uint8_t* encoded = nullptr;
    const size_t size = WebPEncodeLosslessRGBA(rgba.data(), image.width, image.height,
                                               static_cast<int>(stride), &encoded);
    if (size == 0) throw std::runtime_error("libwebp could not encode the image");
    std::unique_ptr<uint8_t, void (*)(void*)> owned(encoded, WebPFree);
    File file = OpenForWriting(path);
    WriteBytes(file.get(), encoded, size);
    CloseChecked(std::move(file));
}
#endif

std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::optional<ImageFormat> FormatForPath(const std::string& path) {
    const std::string extension = Lowercase(std::filesystem::u8path(path).extension().u8string());
    if (extension == ".png") return ImageFormat::kPng;
    if (extension == ".exr") return ImageFormat::kExr;
    if (extension == ".pam") return ImageFormat::kPam;
    if (extension == ".rgba32f") return ImageFormat::kRgba32f;
    if (extension == ".webp") return ImageFormat::kWebp;
    return std::nullopt;
}

bool FormatAvailable(ImageFormat format) {
    switch (format) {
#ifdef PYRIX_HAVE_PNG
        case ImageFormat::kPng:
            return true;
#endif
#ifdef PYRIX_HAVE_EXR
        case ImageFormat::kExr:
            return true;
#endif
#ifdef PYRIX_HAVE_WEBP
        case ImageFormat::kWebp:
            return true;
#endif
        case ImageFormat::kPam:
        case ImageFormat::kRgba32f:
            return true;
        default:
            return false;
    }
}

const char* FormatExtension(ImageFormat format) {
    switch (format) {
        case ImageFormat::kPng:
            return ".png";
        case ImageFormat::kExr:
            return ".exr";
        case ImageFormat::kPam:
            return ".pam";
        case ImageFormat::kRgba32f:
            return ".rgba32f";
        case ImageFormat::kWebp:
            return ".webp";
    }
    return "";
}

void WriteFileAtomically(const std::string& path,
                         const std::function<void(const std::filesystem::path&)>& write) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target = std::filesystem::u8path(path);
    // The temporary keeps the extension: some libraries decide the format by it.
    std::filesystem::path temporary = target;
    temporary.replace_filename("." + target.stem().u8string() + ".part" +
                               std::to_string(PYRIX_GETPID()) + "-" + std::to_string(counter++) +
                               target.extension().u8string());
    try {
        write(temporary);
        std::filesystem::rename(temporary, target);
    } catch (const std::exception& e) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        // Name the file asked for, never the temporary.
        const auto* fsError = dynamic_cast<const std::filesystem::filesystem_error*>(&e);
        throw std::runtime_error("cannot write " + path + ": " +
                                 (fsError != nullptr ? fsError->code().message() : e.what()));
    }
}

void WriteImageFile(const std::string& path, const FrameImage& image) {
    const std::optional<ImageFormat> format = FormatForPath(path);
    if (!format || !FormatAvailable(*format)) {
        throw std::runtime_error("cannot write " + path + ": unsupported file format");
    }
    if (image.width < 1 || image.height < 1) {
        throw std::runtime_error("cannot write " + path + ": empty image");
    }
    WriteFileAtomically(path, [&](const std::filesystem::path& temporary) {
        switch (*format) {
#ifdef PYRIX_HAVE_PNG
            case ImageFormat::kPng:
                WritePng(temporary, image);
                break;
#endif
#ifdef PYRIX_HAVE_EXR
            case ImageFormat::kExr:
                WriteExr(temporary, image);
                break;
#endif
#ifdef PYRIX_HAVE_WEBP
            case ImageFormat::kWebp:
                WriteWebp(temporary, image);
                break;
#endif
            case ImageFormat::kPam:
                WritePam(temporary, image);
                break;
            case ImageFormat::kRgba32f:
                WriteRgba32f(temporary, image);
                break;
            default:
                break;
        }
    });
}

std::string ExpandFramePattern(const std::string& pattern, int32_t frame) {
    const size_t start = pattern.find('#');
    if (start == std::string::npos) return pattern;
    size_t end = start;
    while (end < pattern.size() && pattern[end] == '#') ++end;
    std::string number = std::to_string(frame);
    if (number.size() < end - start) number.insert(0, end - start - number.size(), '0');
    return pattern.substr(0, start) + number + pattern.substr(end);
}

}  // namespace pyrix::preview
