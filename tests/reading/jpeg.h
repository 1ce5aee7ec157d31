#pragma once
// Decodes a JPEG file written by the screenshots: its size and its RGB pixels.
#include <jpeglib.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/reading/commun.h"

namespace essai {

struct ImageJpeg {
    int largeur = 0, hauteur = 0;
    std::vector<std::uint8_t> rgb;
    std::array<int, 3> pixel(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * largeur + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

inline ImageJpeg decoderJpeg(const std::string& chemin) {
    const std::string octets = lireFichier(chemin);
    ImageJpeg d;
    jpeg_decompress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(octets.data()), octets.size());
    if (jpeg_read_header(&c, TRUE) == JPEG_HEADER_OK) {
        c.out_color_space = JCS_RGB;
        jpeg_start_decompress(&c);
        d.largeur = static_cast<int>(c.output_width);
        d.hauteur = static_cast<int>(c.output_height);
        d.rgb.resize(static_cast<std::size_t>(d.largeur) * d.hauteur * 3);
        while (c.output_scanline < c.output_height) {
            JSAMPROW l = d.rgb.data() + static_cast<std::size_t>(c.output_scanline) * d.largeur * 3;
            jpeg_read_scanlines(&c, &l, 1);
        }
        jpeg_finish_decompress(&c);
    }
    jpeg_destroy_decompress(&c);
    return d;
}

}  // namespace essai
