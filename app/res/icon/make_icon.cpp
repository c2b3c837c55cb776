// Draws Tavonne's icon (a ringing bell) and writes it as a 16-colour .ico with 48, 32 and 16 px.
// Build and run: c++ -std=c++20 res/icon/make_icon.cpp -o make_icon && ./make_icon res/tavonne.ico
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The standard 16-colour palette, as Windows stores it (blue, green, red, reserved).
constexpr std::uint8_t kPalette[16][4] = {
    {0x00, 0x00, 0x00, 0}, {0x00, 0x00, 0x80, 0}, {0x00, 0x80, 0x00, 0}, {0x00, 0x80, 0x80, 0},
    {0x80, 0x00, 0x00, 0}, {0x80, 0x00, 0x80, 0}, {0x80, 0x80, 0x00, 0}, {0xC0, 0xC0, 0xC0, 0},
    {0x80, 0x80, 0x80, 0}, {0x00, 0x00, 0xFF, 0}, {0x00, 0xFF, 0x00, 0}, {0x00, 0xFF, 0xFF, 0},
    {0xFF, 0x00, 0x00, 0}, {0xFF, 0x00, 0xFF, 0}, {0xFF, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0xFF, 0},
};

enum Colour : std::uint8_t {
    Black = 0,
    Olive = 3,
    Grey = 8,
    Silver = 7,
    Red = 9,
    Yellow = 11,
    White = 15,
};

constexpr int kTransparent = -1;

// What lies under a point of the unit square (y grows downwards).
enum class Part { None, Bell, Clapper, Wave };

// Half the bell's width at height y, or a negative value above and below it.
double BellHalfWidth(double y) {
    constexpr double top = 0.14, shoulder = 0.36, lip = 0.72, bottom = 0.80;
    if (y < top || y > bottom)
        return -1;
    if (y < shoulder) {
        double r = shoulder - top;
        double dy = shoulder - y;
        return std::sqrt(r * r - dy * dy);
    }
    if (y < lip) {
        double t = (y - shoulder) / (lip - shoulder);
        return 0.22 + 0.14 * t * t;
    }
    return 0.40;
}

Part PartAt(double x, double y) {
    double dx = x - 0.5;
    if (std::fabs(dx) <= BellHalfWidth(y))
        return Part::Bell;
    if (std::hypot(dx, y - 0.13) <= 0.05)
        return Part::Bell;  // the crown
    if (std::hypot(dx, y - 0.84) <= 0.08)
        return Part::Clapper;
    // Two arcs on each side: the sound going out.
    double r = std::hypot(dx, y - 0.46);
    double angle = std::atan2(std::fabs(y - 0.46), std::fabs(dx));
    if (angle < 0.45 && ((r > 0.40 && r < 0.44) || (r > 0.48 && r < 0.52)))
        return Part::Wave;
    return Part::None;
}

// One square image as palette indexes, row 0 at the top.
std::vector<int> Draw(int size) {
    std::vector<Part> parts(size * size);
    for (int row = 0; row < size; ++row) {
        for (int col = 0; col < size; ++col) {
            parts[row * size + col] = PartAt((col + 0.5) / size, (row + 0.5) / size);
        }
    }
    auto partAt = [&](int row, int col) {
        if (row < 0 || col < 0 || row >= size || col >= size)
            return Part::None;
        return parts[row * size + col];
    };
    std::vector<int> pixels(size * size, kTransparent);
    for (int row = 0; row < size; ++row) {
        for (int col = 0; col < size; ++col) {
            Part part = partAt(row, col);
            bool edge = partAt(row - 1, col) != part || partAt(row + 1, col) != part ||
                        partAt(row, col - 1) != part || partAt(row, col + 1) != part;
            double x = (col + 0.5) / size, y = (row + 0.5) / size;
            int& pixel = pixels[row * size + col];
            switch (part) {
                case Part::None:
                    break;
                case Part::Wave:
                    pixel = Red;
                    break;
                case Part::Clapper:
                    pixel = edge ? Black : (x < 0.49 && y < 0.83 ? Silver : Grey);
                    break;
                case Part::Bell:
                    if (edge) {
                        pixel = Black;
                    } else if (y > 0.72) {
                        pixel = Olive;  // the rim
                    } else {
                        double across = (x - 0.5) / std::max(BellHalfWidth(y), 0.05);
                        pixel = across < -0.55 && across > -0.85 ? White
                                : across > 0.45                  ? Olive
                                                                 : Yellow;
                    }
                    break;
            }
        }
    }
    return pixels;
}

void PutU16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

// BITMAPINFOHEADER (height doubled for colour and mask), palette, 4 bpp colour rows, 1 bpp mask
// rows; rows run bottom-up and each is padded to a multiple of 4 bytes.
std::vector<std::uint8_t> IconImage(int size, const std::vector<int>& pixels) {
    int colourStride = (size * 4 + 31) / 32 * 4;
    int maskStride = (size + 31) / 32 * 4;
    std::vector<std::uint8_t> out;
    PutU32(out, 40);
    PutU32(out, size);
    PutU32(out, size * 2);
    PutU16(out, 1);
    PutU16(out, 4);
    PutU32(out, 0);
    PutU32(out, (colourStride + maskStride) * size);
    for (int i = 0; i < 4; ++i)
        PutU32(out, 0);
    for (const auto& entry : kPalette)
        out.insert(out.end(), entry, entry + 4);
    for (int row = size - 1; row >= 0; --row) {
        std::vector<std::uint8_t> line(colourStride, 0);
        for (int col = 0; col < size; ++col) {
            int index = pixels[row * size + col];
            if (index == kTransparent)
                index = Black;  // black XOR transparent = screen unchanged
            line[col / 2] |= col % 2 == 0 ? index << 4 : index;
        }
        out.insert(out.end(), line.begin(), line.end());
    }
    for (int row = size - 1; row >= 0; --row) {
        std::vector<std::uint8_t> line(maskStride, 0);
        for (int col = 0; col < size; ++col) {
            if (pixels[row * size + col] == kTransparent)
                line[col / 8] |= 0x80 >> (col % 8);
        }
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

std::vector<std::uint8_t> IconFile(const std::vector<int>& sizes) {
    std::vector<std::vector<std::uint8_t>> images;
    for (int size : sizes)
        images.push_back(IconImage(size, Draw(size)));
    std::vector<std::uint8_t> out;
    PutU16(out, 0);  // ICONDIR
    PutU16(out, 1);
    PutU16(out, images.size());
    std::uint32_t offset = 6 + 16 * images.size();
    for (std::size_t i = 0; i < images.size(); ++i) {  // ICONDIRENTRY
        out.push_back(sizes[i]);
        out.push_back(sizes[i]);
        out.push_back(16);
        out.push_back(0);
        PutU16(out, 1);
        PutU16(out, 4);
        PutU32(out, images[i].size());
        PutU32(out, offset);
        offset += images[i].size();
    }
    for (const auto& image : images)
        out.insert(out.end(), image.begin(), image.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_icon OUTPUT.ico\n";
        return 2;
    }
    std::vector<std::uint8_t> bytes = IconFile({48, 32, 16});
    std::ofstream file(argv[1], std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!file.flush()) {
        std::cerr << "make_icon: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
