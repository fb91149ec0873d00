// Reading HAP frames: finding texture sections, parsing chunk tables and
// decoding chunks. Every header, table and chunk is checked against the bytes
// that hold it before it is read.
#include <snappy-c.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "HAP/hap_format.h"

namespace {

struct Section {
  const uint8_t* content = nullptr;
  uint32_t length = 0;
  uint32_t header_length = 0;
  uint8_t type = 0;
  uint64_t size() const { return uint64_t(header_length) + length; }
};

uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Parses the section at p; false when its header or content overruns available.
bool read_section(const uint8_t* p, uint64_t available, Section* s) {
  if (available < 4) return false;
  s->type = p[3];
  s->length = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  s->header_length = 4;
  if (s->length == 0) {
    if (available < 8) return false;
    s->length = get_u32(p + 4);
    s->header_length = 8;
  }
  if (s->size() > available) return false;
  s->content = p + s->header_length;
  return true;
}

struct Chunk_Tables {
  const uint8_t* compressors = nullptr;
  const uint8_t* sizes = nullptr;
  const uint8_t* offsets = nullptr;
  uint32_t count = 0;
  const uint8_t* data = nullptr;  // first byte after the decode instructions
  uint64_t data_length = 0;
};

// Parses the decode instructions at the start of a chunked texture's content.
HapResult read_chunk_tables(const uint8_t* content, uint32_t content_length, Chunk_Tables* t) {
  Section instructions;
  if (!read_section(content, content_length, &instructions) ||
      instructions.type != Hap_Section_Decode_Instructions || instructions.length == 0)
    return HapResult_Bad_Frame;
  t->data = content + instructions.size();
  t->data_length = content_length - instructions.size();

  uint64_t compressor_entries = 0, size_entries = 0, offset_entries = 0;
  uint64_t position = 0;
  while (position < instructions.length) {
    Section s;
    if (!read_section(instructions.content + position, instructions.length - position, &s))
      return HapResult_Bad_Frame;
    position += s.size();
    uint64_t entries = 0;
    switch (s.type) {
      case Hap_Section_Chunk_Compressor_Table:
        t->compressors = s.content;
        entries = compressor_entries = s.length;
        break;
      case Hap_Section_Chunk_Size_Table:
        t->sizes = s.content;
        entries = size_entries = s.length / 4;
        break;
      case Hap_Section_Chunk_Offset_Table:
        t->offsets = s.content;
        entries = offset_entries = s.length / 4;
        break;
      default:
        continue;
    }
    if (entries != 0 && t->count != 0 && entries != t->count) return HapResult_Bad_Frame;
    if (entries != 0) t->count = uint32_t(entries);
  }
  if (!t->compressors || !t->sizes) return HapResult_Bad_Frame;
  // An empty table beside a full one would be read past its end.
  if (compressor_entries != t->count || size_entries != t->count ||
      (t->offsets && offset_entries != t->count))
    return HapResult_Bad_Frame;
  return HapResult_No_Error;
}

HapResult decode_chunked(const uint8_t* content, uint32_t content_length,
                         Hap_Decode_Callback callback, void* info, uint8_t* output,
                         uint32_t capacity, uint32_t* bytes_used) {
  Chunk_Tables t;
  const HapResult parsed = read_chunk_tables(content, content_length, &t);
  if (parsed != HapResult_No_Error) return parsed;
  if (t.count == 0) {
    if (bytes_used) *bytes_used = 0;
    return HapResult_No_Error;
  }
  if (t.count > 1 && !callback) return HapResult_Bad_Arguments;

  std::unique_ptr<Hap_Chunk_Decode_Record, decltype(&std::free)> records(
      static_cast<Hap_Chunk_Decode_Record*>(std::malloc(sizeof(Hap_Chunk_Decode_Record) * t.count)),
      &std::free);
  if (!records) return HapResult_Internal_Error;

  uint64_t stored_end = 0, decoded_total = 0;
  for (uint32_t i = 0; i < t.count; ++i) {
    Hap_Chunk_Decode_Record& r = records.get()[i];
    r.result = HapResult_No_Error;
    r.compressor = t.compressors[i];
    r.stored_length = get_u32(t.sizes + 4 * i);
    const uint64_t start = t.offsets ? get_u32(t.offsets + 4 * i) : stored_end;
    stored_end = start + r.stored_length;
    if (stored_end > t.data_length) return HapResult_Bad_Frame;
    r.stored = t.data + start;
    r.decoded_length = r.stored_length;
    if (r.compressor == Hap_Storage_Snappy) {
      size_t length = 0;
      const snappy_status st = snappy_uncompressed_length(reinterpret_cast<const char*>(r.stored),
                                                          r.stored_length, &length);
      if (st == SNAPPY_INVALID_INPUT) return HapResult_Bad_Frame;
      if (st != SNAPPY_OK) return HapResult_Internal_Error;
      r.decoded_length = length;
    }
    // The offset is kept here until the total is known to fit the output.
    r.destination = nullptr;
    decoded_total += r.decoded_length;
  }
  if (decoded_total > capacity) return HapResult_Buffer_Too_Small;
  uint64_t offset = 0;
  for (uint32_t i = 0; i < t.count; ++i) {
    records.get()[i].destination = output + offset;
    offset += records.get()[i].decoded_length;
  }

  if (t.count == 1)
    decode_chunk(records.get(), 0);
  else
    callback(decode_chunk, records.get(), t.count, info);
  for (uint32_t i = 0; i < t.count; ++i)
    if (records.get()[i].result != HapResult_No_Error) return HapResult(records.get()[i].result);
  if (bytes_used) *bytes_used = uint32_t(decoded_total);
  return HapResult_No_Error;
}

HapResult decode_whole_snappy(const uint8_t* content, uint32_t content_length, uint8_t* output,
                              uint32_t capacity, uint32_t* bytes_used) {
  size_t expected = 0;
  snappy_status st =
      snappy_uncompressed_length(reinterpret_cast<const char*>(content), content_length, &expected);
  // Unlike chunks, a whole-texture stream reports every snappy failure alike.
  if (st != SNAPPY_OK) return HapResult_Internal_Error;
  if (expected > capacity) return HapResult_Buffer_Too_Small;
  size_t length = expected;
  st = snappy_uncompress(reinterpret_cast<const char*>(content), content_length,
                         reinterpret_cast<char*>(output), &length);
  if (st != SNAPPY_OK) return HapResult_Internal_Error;
  if (bytes_used) *bytes_used = uint32_t(length);
  return HapResult_No_Error;
}

}  // namespace

HapResult find_texture_section(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                               const uint8_t** content, uint32_t* content_length, uint8_t* type) {
  if (!content || !content_length || !type) return HapResult_Bad_Arguments;
  *content = nullptr;
  *content_length = 0;
  *type = 0;
  if (!frame) return HapResult_Bad_Arguments;
  Section top;
  if (!read_section(frame, frame_length, &top)) return HapResult_Bad_Frame;
  Section found = top;
  if (top.type != Hap_Section_Multiple_Textures) {
    if (index != 0) return HapResult_Bad_Arguments;
  } else {
    uint64_t position = 0;
    for (uint32_t i = 0; i <= index; ++i) {
      if (i > 0) position += found.size();
      if (position >= top.length) return HapResult_Bad_Arguments;
      if (!read_section(top.content + position, top.length - position, &found))
        return HapResult_Bad_Frame;
    }
  }
  *content = found.content;
  *content_length = found.length;
  *type = found.type;
  return HapResult_No_Error;
}

void decode_chunk(Hap_Chunk_Decode_Record* records, uint32_t index) {
  if (!records) return;
  Hap_Chunk_Decode_Record& r = records[index];
  if (r.compressor == Hap_Storage_Snappy) {
    size_t length = r.decoded_length;
    const snappy_status st = snappy_uncompress(reinterpret_cast<const char*>(r.stored),
                                               r.stored_length,
                                               reinterpret_cast<char*>(r.destination), &length);
    if (st == SNAPPY_OK)
      r.result = length == r.decoded_length ? HapResult_No_Error : HapResult_Bad_Frame;
    else
      r.result = st == SNAPPY_INVALID_INPUT ? HapResult_Bad_Frame : HapResult_Internal_Error;
  } else if (r.compressor == Hap_Storage_Raw) {
    std::memcpy(r.destination, r.stored, r.stored_length);
    r.result = HapResult_No_Error;
  } else {
    r.result = HapResult_Bad_Frame;
  }
}

HapResult decode_texture_section(const uint8_t* content, uint32_t content_length, uint8_t type,
                                 Hap_Decode_Callback callback, void* info, uint8_t* output,
                                 uint32_t capacity, uint32_t* bytes_used, uint32_t* format) {
  if (!content || !output || !format) return HapResult_Bad_Arguments;
  *format = texture_format_from_code(type & 0x0F);
  if (*format == 0) return HapResult_Bad_Frame;
  switch (type >> 4) {
    case Hap_Storage_Raw:
      if (content_length > capacity) return HapResult_Buffer_Too_Small;
      std::memcpy(output, content, content_length);
      if (bytes_used) *bytes_used = content_length;
      return HapResult_No_Error;
    case Hap_Storage_Snappy:
      return decode_whole_snappy(content, content_length, output, capacity, bytes_used);
    case Hap_Storage_Chunked:
      return decode_chunked(content, content_length, callback, info, output, capacity, bytes_used);
    default:
      return HapResult_Bad_Frame;
  }
}

HapResult hap_decode(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                     Hap_Decode_Callback callback, void* info, uint8_t* output, uint32_t capacity,
                     uint32_t* bytes_used, uint32_t* format) {
  if (!frame || index > 1 || !callback || !output || !format) return HapResult_Bad_Arguments;
  const uint8_t* content;
  uint32_t length;
  uint8_t type;
  const HapResult found = find_texture_section(frame, frame_length, index, &content, &length, &type);
  if (found != HapResult_No_Error) return found;
  return decode_texture_section(content, length, type, callback, info, output, capacity,
                                bytes_used, format);
}

HapResult get_texture_count(const uint8_t* frame, uint32_t frame_length, uint32_t* count) {
  if (!frame || !count) return HapResult_Bad_Arguments;
  Section top;
  if (!read_section(frame, frame_length, &top)) return HapResult_Bad_Frame;
  if (top.type != Hap_Section_Multiple_Textures) {
    *count = 1;
    return HapResult_No_Error;
  }
  // Counting only needs each inner section to lie inside the frame, not
  // inside the container.
  uint32_t n = 0;
  for (uint64_t position = 0; position < top.length; ++n) {
    Section inner;
    if (!read_section(top.content + position, frame_length - top.header_length - position, &inner))
      return HapResult_Bad_Frame;
    position += inner.size();
  }
  *count = n;
  return HapResult_No_Error;
}

HapResult get_texture_chunk_count(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                                  uint32_t* count) {
  if (!count) return HapResult_Bad_Arguments;
  *count = 0;
  if (!frame || index > 1) return HapResult_Bad_Arguments;
  const uint8_t* content;
  uint32_t length;
  uint8_t type;
  const HapResult found = find_texture_section(frame, frame_length, index, &content, &length, &type);
  if (found != HapResult_No_Error) return found;
  switch (type >> 4) {
    case Hap_Storage_Raw:
    case Hap_Storage_Snappy:
      *count = 1;
      return HapResult_No_Error;
    case Hap_Storage_Chunked: {
      Chunk_Tables t;
      const HapResult parsed = read_chunk_tables(content, length, &t);
      if (parsed == HapResult_No_Error) *count = t.count;
      return parsed;
    }
    default:
      return HapResult_Bad_Frame;
  }
}

HapResult get_texture_format(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                             uint32_t* format) {
  if (!frame || index > 1 || !format) return HapResult_Bad_Arguments;
  const uint8_t* content;
  uint32_t length;
  uint8_t type;
  const HapResult found = find_texture_section(frame, frame_length, index, &content, &length, &type);
  if (found != HapResult_No_Error) return found;
  *format = texture_format_from_code(type & 0x0F);
  return *format == 0 ? HapResult_Bad_Frame : HapResult_No_Error;
}
