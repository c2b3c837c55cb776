// Icon resources decoded into pictures: the largest image of an icon group, and pictures scaled
// down to the cells they are drawn in.
#include "platform/phone/icon.h"

#include <algorithm>
#include <span>

#include "platform/kernel32/resources.h"

namespace icons {

namespace {

struct Reader {
    std::span<const unsigned char> data;
    bool Has(std::size_t offset, std::size_t size) const {
        return offset <= data.size() && size <= data.size() - offset;
    }
    std::uint32_t U16(std::size_t offset) const { return data[offset] | data[offset + 1] << 8; }
    std::uint32_t U32(std::size_t offset) const {
        return U16(offset) | static_cast<std::uint32_t>(U16(offset + 2)) << 16;
    }
};

// An icon image in the device-independent bitmap form icon resources hold: the colour bits
// (1, 4, 8, 24 or 32 bits a pixel, bottom row first) then the 1-bit transparency mask.
std::optional<Picture> DecodeIconImage(std::span<const unsigned char> data) {
    Reader in{data};
    if (!in.Has(0, 40))
        return std::nullopt;
    std::uint32_t headerSize = in.U32(0);
    auto width = static_cast<std::int32_t>(in.U32(4));
    auto doubleHeight = static_cast<std::int32_t>(in.U32(8));
    std::uint32_t bits = in.U16(14);
    std::uint32_t compression = in.U32(16);
    std::uint32_t coloursUsed = in.U32(32);
    if (headerSize < 40 || compression != 0 || width <= 0 || width > 256 || doubleHeight <= 0 ||
        doubleHeight > 512 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
        return std::nullopt;
    int height = doubleHeight / 2;
    std::size_t paletteSize = bits <= 8 ? (coloursUsed != 0 ? coloursUsed : 1u << bits) : 0;
    if (paletteSize > 256)
        return std::nullopt;
    std::size_t paletteAt = headerSize;
    std::size_t colourStride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    std::size_t maskStride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    std::size_t colourAt = paletteAt + paletteSize * 4;
    std::size_t maskAt = colourAt + colourStride * height;
    if (!in.Has(paletteAt, paletteSize * 4) || !in.Has(colourAt, colourStride * height))
        return std::nullopt;
    bool hasMask = in.Has(maskAt, maskStride * height);

    auto rgb = [](std::uint32_t b, std::uint32_t g, std::uint32_t r) {
        return r << 16 | g << 8 | b;
    };
    Picture picture{width, height, {}};
    picture.pixels.resize(static_cast<std::size_t>(width) * height);
    bool anyAlpha = false;
    std::vector<std::uint8_t> alpha(picture.pixels.size(), 0);
    for (int y = 0; y < height; ++y) {
        std::size_t row = colourAt + colourStride * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            std::uint32_t colour = 0;
            if (bits <= 8) {
                std::size_t bit = static_cast<std::size_t>(x) * bits;
                std::uint32_t byte = data[row + bit / 8];
                std::uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= paletteSize)
                    index = 0;
                std::size_t entry = paletteAt + index * 4;
                colour = rgb(data[entry], data[entry + 1], data[entry + 2]);
            } else {
                std::size_t at = row + static_cast<std::size_t>(x) * (bits / 8);
                colour = rgb(data[at], data[at + 1], data[at + 2]);
                if (bits == 32) {
                    alpha[y * width + x] = data[at + 3];
                    anyAlpha = anyAlpha || data[at + 3] != 0;
                }
            }
            bool transparent = false;
            if (hasMask) {
                std::size_t maskRow = maskAt + maskStride * (height - 1 - y);
                transparent = (data[maskRow + x / 8] >> (7 - x % 8)) & 1;
            }
            std::size_t at = static_cast<std::size_t>(y) * width + x;
            picture.pixels[at] = transparent ? std::nullopt : std::optional(colour);
        }
    }
    // Images with an alpha channel say their transparency there.
    if (anyAlpha) {
        for (std::size_t i = 0; i < alpha.size(); ++i) {
            if (alpha[i] < 128)
                picture.pixels[i].reset();
        }
    }
    return picture;
}

}  // namespace

std::optional<Picture> LargestImage(HINSTANCE module, LPCWSTR name) {
    auto group = resources::Find(module, RT_GROUP_ICON, name);
    if (!group)
        return std::nullopt;
    Reader in{*group};
    if (!in.Has(0, 6))
        return std::nullopt;
    std::uint32_t count = in.U16(4);
    std::optional<Picture> best;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t entry = 6 + i * 14;
        if (!in.Has(entry, 14))
            break;
        auto id = static_cast<WORD>(in.U16(entry + 12));
        auto image = resources::Find(module, RT_ICON, MAKEINTRESOURCE(id));
        if (!image)
            continue;
        std::optional<Picture> picture = DecodeIconImage(*image);
        if (picture && (!best || picture->width * picture->height > best->width * best->height))
            best = std::move(picture);
    }
    return best;
}

Picture Scale(const Picture& source, int width, int height) {
    Picture scaled{width, height, {}};
    scaled.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        int y0 = y * source.height / height;
        int y1 = std::max((y + 1) * source.height / height, y0 + 1);
        for (int x = 0; x < width; ++x) {
            int x0 = x * source.width / width;
            int x1 = std::max((x + 1) * source.width / width, x0 + 1);
            std::uint32_t r = 0, g = 0, b = 0, opaque = 0, total = 0;
            for (int sy = y0; sy < y1 && sy < source.height; ++sy) {
                for (int sx = x0; sx < x1 && sx < source.width; ++sx) {
                    ++total;
                    const auto& pixel =
                        source.pixels[static_cast<std::size_t>(sy) * source.width + sx];
                    if (!pixel)
                        continue;
                    ++opaque;
                    r += *pixel >> 16 & 0xFF;
                    g += *pixel >> 8 & 0xFF;
                    b += *pixel & 0xFF;
                }
            }
            if (opaque == 0 || opaque * 2 < total)
                continue;
            scaled.pixels[static_cast<std::size_t>(y) * width + x] =
                (r / opaque) << 16 | (g / opaque) << 8 | (b / opaque);
        }
    }
    return scaled;
}

}  // namespace icons
