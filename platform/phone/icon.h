// Icon resources decoded into pictures, for drawing on the phone's screen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace icons {

// An image of an icon: each pixel its colour (0xRRGGBB), or nothing where the icon is
// transparent.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::optional<std::uint32_t>> pixels;  // rows top to bottom
};

// The largest image of the icon group `name` of a module that can be decoded: the best source to
// scale down. Images may be of 1, 4, 8, 24 or 32 bits a pixel, with their transparency mask or
// an alpha channel.
std::optional<Picture> LargestImage(HINSTANCE module, LPCWSTR name);

// The picture scaled to width x height: a pixel shows where at least half of what it covers is
// opaque, in the average colour of that part.
Picture Scale(const Picture& source, int width, int height);

}  // namespace icons
