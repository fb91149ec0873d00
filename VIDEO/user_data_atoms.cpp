#include "VIDEO/user_data_atoms.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "VIDEO/moov_writer.h"

VelnoUDTA_Writer::VelnoUDTA_Writer(const Movie_Metadata& metadata) : Atom_Writer("VELN") {
  if (metadata.version != 1) {
    std::printf("WARNING : Invalid Vel metadata version : %u\n", unsigned(metadata.version));
    throw std::runtime_error("Invalid metadata version");
  }
  if (metadata.alpha_mode > 2) throw std::runtime_error("Invalid alpha mode");
  const bool crop = metadata.crop == 1;
  if (crop && (metadata.display_width == 0 || metadata.display_height == 0))
    std::printf("WARNING crop box set, but invalid display : %u x %u\n",
                unsigned(metadata.display_width), unsigned(metadata.display_height));
  append_le16(metadata.version);
  append_u8(metadata.alpha_mode);
  append_u8(crop && metadata.display_width != 0 && metadata.display_height != 0 ? 1 : 0);
  append_le32(crop ? metadata.display_width : 0);
  append_le32(crop ? metadata.display_height : 0);
  append_le32(crop ? metadata.crop_x : 0);
  append_le32(crop ? metadata.crop_y : 0);
}

AdobeAlfaUDTA_Writer::AdobeAlfaUDTA_Writer(const Movie_Metadata& metadata) : Atom_Writer("ALFA") {
  if (metadata.enable != 1 || (metadata.alpha_mode != 1 && metadata.alpha_mode != 2)) {
    std::printf("Invalid ALFA mode\n");
    throw std::runtime_error("Invalid ALFA arguments");
  }
  static constexpr uint8_t head[5] = {0x00, 0x01, 0x00, 0x00, 0x00};
  static constexpr uint8_t premultiplied[5] = {0x01, 0x00, 0x00, 0x00, 0x01};
  static constexpr uint8_t straight[5] = {0x00, 0x00, 0x00, 0x00, 0x00};
  append_bytes(head, 5);
  append_bytes(metadata.alpha_mode == 1 ? premultiplied : straight, 5);
}

VelnoAlphaUDTA_Writer::VelnoAlphaUDTA_Writer(const Movie_Metadata& metadata) : Atom_Writer("VELA") {
  const char* text = "unknown";
  if (metadata.enable == 1 && metadata.alpha_mode == 1)
    text = "premultiply_black";
  else if (metadata.enable == 1 && metadata.alpha_mode == 2)
    text = "straight";
  else
    std::printf("Unset/unknown alpha mode for VELA metadata\n");
  append_bytes(text, std::strlen(text) + 1);
}

namespace {

// Adds one user-data atom; a failure to build it is reported, not thrown.
template <class Atom>
void add_user_atom(UDTA_Writer& udta, const Movie_Metadata& metadata, const char* failure) {
  try {
    udta.emplace_child<Atom>(metadata);
  } catch (const std::exception&) {
    std::printf("%s", failure);
  }
}

bool crop_box_valid(const Moov_Video_Writer& tree, const Movie_Metadata& m) {
  return m.display_width != 0 && m.display_height != 0 &&
         uint64_t(tree.width()) + m.crop_x <= m.display_width &&
         uint64_t(tree.height()) + m.crop_y <= m.display_height;
}

}  // namespace

void set_user_data_atoms(Moov_Video_Writer& tree, const Movie_Metadata& metadata) {
  if (metadata.enable != 1) return;
  const char* refusal = nullptr;
  if (metadata.version != 1)
    refusal = "Invalid version\n";
  else if (metadata.alpha_mode >= 3)
    refusal = "Invalid alpha mode\n";
  else if (metadata.crop == 1 && !crop_box_valid(tree, metadata))
    refusal = "Invalid crop box\n";
  if (refusal) {
    std::printf("%s", refusal);
    std::printf("Can't write ALFA and VELN metadata (invalid values)\n");
    return;
  }
  UDTA_Writer& udta = tree.udta();
  add_user_atom<VelnoUDTA_Writer>(udta, metadata, "Fail to create VELN Metadata");
  const bool known_alpha =
      tree.depth() == 32 && (metadata.alpha_mode == 1 || metadata.alpha_mode == 2);
  if (!known_alpha) return;
  add_user_atom<AdobeAlfaUDTA_Writer>(udta, metadata, "Fail to create ALFA Metadata");
  add_user_atom<VelnoAlphaUDTA_Writer>(udta, metadata, "Fail to create ALFA Metadata");
}
