// Image file writers for the artwork generator: 24-bit BMP pictures and multi-size icon files.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

// RGB bytes, top row first, no row padding.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// The surface as seen over black (its premultiplied colours): what a layer adds into its cut-out.
RgbPicture ColourOverBlack(cairo_surface_t* surface);
// White where the surface is transparent, black where it is opaque: the cut-out for ColourOverBlack.
RgbPicture CutOutMask(cairo_surface_t* surface);

// Uncompressed 24-bit BMP, bottom row first. False when the file can't be written.
bool WriteBmp24(const std::string& path, const RgbPicture& picture);

// An icon file holding every surface (ARGB32, square): those up to 64 pixels as 32-bit bitmap
// entries with an AND mask, larger ones as PNG entries.
bool WriteIcon(const std::string& path, const std::vector<cairo_surface_t*>& sizes);
