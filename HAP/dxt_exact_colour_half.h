// The colour half of a DXT5 block always shows four colours: c0, c1,
// 2/3 c0 + 1/3 c1 and 1/3 c0 + 2/3 c1. Some sets of pixels it shows exactly
// only with endpoints beyond the colours shown, which a least-squares fit
// lands beside.
#pragma once
#include <cstdint>

// Writes a colour half showing the 16 given pixels (R, G, B) exactly: the
// first in the order of the search, so the same pixels always give the same
// bytes, with colour 0 above colour 1 as the fit writes it (unless the pixels
// are all one 5:6:5 colour, which equal endpoints may show). Returns false,
// writing nothing, when no half shows them, or when they hold more than four
// colours.
bool write_exact_colour_half(const uint8_t shown[48], uint8_t out[8]);
