// Processing of one encoded HAP frame: re-encoding to another codec, checked
// decoding, border and alpha detection, over the frame and texture services.
#include "HAP/HAP_process.h"

#include <functional>
#include <initializer_list>
#include <new>
#include <stdexcept>

#include "HAP/DXT_Frame.h"
#include "HAP/hap_frame.h"

namespace {

// Runs body and turns what it throws into the operation's text; a null
// memory prefix lets exhausted memory fall to the unknown text like any other.
template <class Body>
std::string guarded(Body&& body, const char* runtime_prefix, const char* memory_prefix,
                    const char* unknown_text) {
  try {
    body();
    return {};
  } catch (const std::bad_alloc& e) {
    if (!memory_prefix) return unknown_text;
    return memory_prefix + std::string(e.what());
  } catch (const std::runtime_error& e) {
    return runtime_prefix + std::string(e.what());
  } catch (...) {
    return unknown_text;
  }
}

void require(bool condition, const char* message) {
  if (!condition) throw std::runtime_error(message);
}

// Each buffer is read or written (or grown, which frees its old block) while
// the others are in use, so one record given for two roles, or two records
// over the same memory (a record borrowing another's block), would be read
// after being freed or copied onto itself. Absent records are refused where
// they are used.
void require_separate(std::initializer_list<const Padded_Buffer*> buffers) {
  const auto overlap = [](const Padded_Buffer& a, const Padded_Buffer& b) {
    if (!a.data || !b.data || a.capacity == 0 || b.capacity == 0) return false;
    const std::less<const uint8_t*> before;
    return before(a.data, b.data + b.capacity) && before(b.data, a.data + a.capacity);
  };
  for (auto i = buffers.begin(); i != buffers.end(); ++i)
    for (auto j = i + 1; j != buffers.end(); ++j) {
      if (!*i || !*j) continue;
      require(*i != *j, "buffers de travail : un meme buffer est donne pour deux roles");
      require(!overlap(**i, **j), "buffers de travail : deux buffers partagent la meme memoire");
    }
}

// How a one-texture source may be re-encoded: the block codec its texture
// must have, and per accepted target, whether the texture is converted.
struct Route {
  uint32_t target;
  bool convert;
  Dxt_Codec converted_codec;
};
struct Source_Rule {
  uint32_t source;
  Dxt_Codec texture_codec;
  const char* mapping_message;
  const char* target_message;
  std::initializer_list<Route> routes;
};

const Source_Rule source_rules[] = {
    {Hap_Internal_DXT1, Dxt_Codec_DXT1, "frame src HAP, mais DXT texture pas DXT1",
     "src HAP, impossible a convertir vers le format cible",
     {{Hap_Internal_DXT1, false, Dxt_Codec_DXT1}, {Hap_Internal_DXT5, true, Dxt_Codec_DXT5}}},
    {Hap_Internal_DXT5, Dxt_Codec_DXT5, "frame src HAPA, mais DXT texture pas DXT5",
     "src HAPA, impossible a convertir vers le format cible",
     {{Hap_Internal_DXT5, false, Dxt_Codec_DXT5},
      {Hap_Internal_DXT1, true, Dxt_Codec_DXT1},
      {Hap_Internal_RGTC1, true, Dxt_Codec_RGTC1}}},
    {Hap_Internal_YCoCg_DXT5, Dxt_Codec_DXT5, "frame src HAPQ, mais DXT texture pas DXT5",
     "src HAPQ, impossible a convertir vers le format cible",
     {{Hap_Internal_YCoCg_DXT5, false, Dxt_Codec_DXT5}}},
    {Hap_Internal_RGTC1, Dxt_Codec_RGTC1, "frame src HAP ALpha Only, mais DXT texture pas RGTC1",
     "src Hap Alpha Only, impossible a convertir vers le format cible",
     {{Hap_Internal_RGTC1, false, Dxt_Codec_RGTC1}}},
};

class Frame_Processor {
 public:
  Frame_Processor(const Hap_Process_Params& params, uint32_t target_width, uint32_t target_height)
      : p_(params), target_width_(target_width), target_height_(target_height) {}

  // Returns the encoded target's byte count.
  uint32_t run() {
    require_separate({p_.source, p_.target, p_.colour_texture, p_.alpha_texture, p_.cropped_colour,
                      p_.cropped_alpha, p_.converted});
    set_hap_frame_from_buffer(&source_, p_.source_width, p_.source_height, p_.source);
    init_hap_frame_on_buffer(&target_, p_.target, p_.target_width, p_.target_height,
                             p_.target_codec, p_.chunk_count);
    uint32_t first = 0, second = 0;
    hap_codec_to_dxt_codecs(source_.codec, &first, &second);
    if (source_.codec == Hap_Internal_YCoCg_DXT5_RGTC1) {
      run_hapqa(first, second);
      return target_.bytes_used;
    }
    for (const Source_Rule& rule : source_rules) {
      if (rule.source != source_.codec) continue;
      require(first == rule.texture_codec, rule.mapping_message);
      const Dxt_Frame texture =
          prepared_texture(p_.colour_texture, p_.cropped_colour, rule.texture_codec, 0);
      for (const Route& route : rule.routes) {
        if (route.target != p_.target_codec) continue;
        if (route.convert)
          encode_converted(texture, route.converted_codec);
        else
          encode(&texture);
        return target_.bytes_used;
      }
      throw std::runtime_error(rule.target_message);
    }
    throw std::runtime_error("src codec non supporte, impossible a convertir vers le format cible");
  }

 private:
  // The target decides which of the two textures are worth decoding.
  void run_hapqa(uint32_t first, uint32_t second) {
    require(first == Dxt_Codec_DXT5 && second == Dxt_Codec_RGTC1,
            "frame src HAPQA, mais DXT textures pas DXT5 et RGTC1");
    const uint32_t to = p_.target_codec;
    const bool wants_colour = to == Hap_Internal_YCoCg_DXT5 || to == Hap_Internal_YCoCg_DXT5_RGTC1;
    const bool wants_alpha = to == Hap_Internal_YCoCg_DXT5_RGTC1 || to == Hap_Internal_RGTC1;
    // There is no message of its own for HAPQA: the HAPQ one stands for it.
    if (!wants_colour && !wants_alpha)
      throw std::runtime_error("src HAPQ, impossible a convertir vers le format cible");
    Dxt_Frame colour, alpha;
    if (wants_colour)
      colour = prepared_texture(p_.colour_texture, p_.cropped_colour, Dxt_Codec_DXT5, 0);
    if (wants_alpha)
      alpha = prepared_texture(p_.alpha_texture, p_.cropped_alpha, Dxt_Codec_RGTC1, 1);
    if (wants_colour && wants_alpha)
      encode(&colour, &alpha);
    else
      encode(wants_colour ? &colour : &alpha);
  }

  // Decodes one texture at source size, then crops and canonicalises it as
  // asked; the result is the frame carried on to encoding.
  Dxt_Frame prepared_texture(Padded_Buffer* decoded_buffer, Padded_Buffer* cropped_buffer,
                             Dxt_Codec codec, uint8_t texture) {
    Dxt_Frame frame;
    alloc_dxt_frame(&frame, decoded_buffer, p_.source_width, p_.source_height, codec);
    if (source_.codec == Hap_Internal_DXT1)
      decode_hap_texture(&source_, &frame, texture);
    else
      decode_hap_texture_parallel(&source_, &frame, texture);
    if (p_.crop) {
      Dxt_Frame box;
      alloc_dxt_frame(&box, cropped_buffer, target_width_, target_height_, codec);
      crop_dxt_frame(&frame, &box, p_.crop_x, p_.crop_y, p_.crop_width, p_.crop_height);
      frame = box;
    }
    if (p_.canonicalize) canonicalize_uniform_dxt_blocks(&frame);
    return frame;
  }

  void encode(const Dxt_Frame* first, const Dxt_Frame* second = nullptr) {
    encode_hap_frame(&target_, first, second, p_.chunk_count, p_.compressor);
  }

  void encode_converted(const Dxt_Frame& frame, Dxt_Codec codec) {
    Dxt_Frame converted;
    alloc_dxt_frame(&converted, p_.converted, target_width_, target_height_, codec);
    convert_dxt_frame(&frame, &converted);
    encode(&converted);
  }

  const Hap_Process_Params& p_;
  const uint32_t target_width_, target_height_;
  Hap_Frame source_, target_;
};

}  // namespace

std::string process_hap_frame(const Hap_Process_Params& params, uint32_t* error,
                              uint32_t* bytes_used) {
  if (!error) return "Erreur process frame hap : drapeau d'erreur absent";
  *error = 0;
  const uint32_t target_width = params.crop ? uint32_t(params.crop_width) * 4 : params.source_width;
  const uint32_t target_height = params.crop ? uint32_t(params.crop_height) * 4 : params.source_height;
  if (target_width == 0) throw std::logic_error("target_width > 0");
  if (target_height == 0) throw std::logic_error("target_height > 0");
  uint32_t used = 0;
  std::string text = guarded([&] { used = Frame_Processor(params, target_width, target_height).run(); },
                             "Erreur process frame hap : ", "Erreur memoire process frame hap : ",
                             "Erreur inconnue process frame hap");
  if (!text.empty())
    *error = 1;
  else if (bytes_used)
    *bytes_used = used;
  return text;
}

std::string decode_hap_frame_to_dxt(Padded_Buffer* hap, Padded_Buffer* first, Padded_Buffer* second,
                                    uint32_t codec, uint16_t chunk_count, uint32_t width,
                                    uint32_t height, uint32_t* error) {
  if (!error) throw std::runtime_error("decode_hap_frame_to_dxt, drapeau d'erreur absent");
  *error = 0;
  uint32_t first_codec = 0, second_codec = 0;
  hap_codec_to_dxt_codecs(codec, &first_codec, &second_codec);
  const uint32_t expected_textures = codec == Hap_Internal_YCoCg_DXT5_RGTC1 ? 2 : 1;
  require_separate({hap, first, expected_textures == 2 ? second : nullptr});
  Dxt_Frame textures[2];
  set_dxt_frame_from_buffer(&textures[0], first, width, height, Dxt_Codec(first_codec));
  if (expected_textures == 2)
    set_dxt_frame_from_buffer(&textures[1], second, width, height, Dxt_Codec(second_codec));

  Hap_Frame frame;
  std::string text = guarded([&] { set_hap_frame_from_buffer(&frame, width, height, hap); },
                             "Erreur header : ", nullptr, "Header erreur inconnue");
  const auto expected_found = [](const char* what, uint32_t expected, uint32_t found) {
    return what + std::to_string(expected) + " ; Trouve : " + std::to_string(found);
  };
  if (text.empty() && frame.codec != codec)
    text = std::string("Erreur codec : Attendu : ") + hap_codec_name(codec) + " ; Trouve : " +
           hap_codec_name(frame.codec);
  if (text.empty() && frame.texture_count != expected_textures)
    text = expected_found("Erreur nombre de textures : Attendu : ", expected_textures,
                          frame.texture_count);
  if (text.empty() && frame.chunk_count_1 != chunk_count)
    text = expected_found("Erreur nombres de chunks (texture 1) : Attendu : ", chunk_count,
                          frame.chunk_count_1);
  if (text.empty() && expected_textures == 2 && frame.chunk_count_2 != chunk_count)
    text = expected_found("Erreur nombres de chunks (texture 2) : Attendu : ", chunk_count,
                          frame.chunk_count_2);
  if (text.empty())
    text = guarded([&] { decode_hap_texture(&frame, &textures[0], 0); },
                   "Erreur decodage (texture 1) : ", nullptr, "Erreur decode (texture 1) inconnue");
  if (text.empty() && expected_textures == 2)
    text = guarded([&] { decode_hap_texture(&frame, &textures[1], 1); },
                   "Erreur decodage (texture 2) : ", nullptr, "Erreur decode (texture 2) inconnue");
  if (!text.empty()) *error = 1;
  return text;
}

std::string detect_hap_frame_crop(Padded_Buffer* hap, Padded_Buffer* dxt, uint32_t codec,
                                  uint32_t width, uint32_t height, uint8_t mode, uint32_t* error,
                                  uint16_t* top, uint16_t* bottom, uint16_t* left,
                                  uint16_t* right) {
  if (!error) return "Erreur process detect crop hap frame : drapeau d'erreur absent";
  *error = 0;
  bool codec_mismatch = false;
  std::string text = guarded(
      [&] {
        require_separate({hap, dxt});
        Hap_Frame frame;
        set_hap_frame_from_buffer(&frame, width, height, hap);
        uint32_t first_codec = 0, second_codec = 0;
        hap_codec_to_dxt_codecs(codec, &first_codec, &second_codec);
        if (frame.codec != codec) {
          codec_mismatch = true;
          return;
        }
        const bool alpha_texture = codec == Hap_Internal_YCoCg_DXT5_RGTC1 && mode == 1;
        Dxt_Frame texture;
        set_dxt_frame_from_buffer(&texture, dxt, width, height,
                                  Dxt_Codec(alpha_texture ? second_codec : first_codec));
        decode_hap_texture(&frame, &texture, alpha_texture ? 1 : 0);
        if (mode == 1)
          detect_dxt_crop_alpha(&texture, top, bottom, left, right);
        else
          detect_dxt_crop_auto(&texture, top, bottom, left, right);
      },
      "Erreur process detect crop hap frame : ", nullptr, "Erreur process detect crop hap inconnue");
  if (codec_mismatch) text = "Erreur codec";
  if (!text.empty()) *error = 1;
  return text;
}

std::string detect_hap_frame_need_alpha(Padded_Buffer* hap, Padded_Buffer* dxt, uint32_t width,
                                        uint32_t height, uint32_t* result) {
  if (!result) return "Erreur process hap frame : resultat absent";
  *result = 0;
  try {
    require_separate({hap, dxt});
    Hap_Frame frame;
    set_hap_frame_from_buffer(&frame, width, height, hap);
    Dxt_Codec codec = Dxt_Codec_RGTC1;
    uint8_t texture = 0;
    switch (frame.codec) {
      case Hap_Internal_DXT1:
      case Hap_Internal_YCoCg_DXT5:
        return {};
      case Hap_Internal_DXT5: codec = Dxt_Codec_DXT5; break;
      case Hap_Internal_YCoCg_DXT5_RGTC1: texture = 1; break;
      case Hap_Internal_RGTC1: break;
      default: throw std::runtime_error("Detect need alpha : codec inconnu");
    }
    Dxt_Frame alpha;
    set_dxt_frame_from_buffer(&alpha, dxt, width, height, codec);
    decode_hap_texture(&frame, &alpha, texture);
    *result = detect_dxt_need_alpha(&alpha) ? 0 : 2;
    return {};
  } catch (const std::runtime_error& e) {
    *result = 1;
    return "Erreur process hap frame : " + std::string(e.what());
  }
}
