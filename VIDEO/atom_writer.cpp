#include "VIDEO/atom_writer.h"

#include <bit>
#include <cstring>

uint64_t atom_size_for_payload(uint64_t payload_bytes, bool* is64) {
  const bool wide = payload_bytes + 8 >= 0xFFFFFFFFull;
  if (is64) *is64 = wide;
  return payload_bytes + (wide ? 16 : 8);
}

Atom_Writer::Atom_Writer(const char* type) { std::memcpy(type_.data(), type, 4); }

Atom_Writer::Atom_Writer() : type_{' ', ' ', ' ', ' '} {}

void Atom_Writer::set_type(char a, char b, char c, char d) { type_ = {a, b, c, d}; }

uint64_t Atom_Writer::get_atom_size(bool* is64) const {
  return atom_size_for_payload(payload_.size(), is64);
}

uint64_t Atom_Writer::size() const {
  bool is64 = false;
  return get_atom_size(&is64);
}

uint64_t Atom_Writer::write_header(uint8_t* dst) const {
  bool is64 = false;
  const uint64_t size = get_atom_size(&is64);
  if (!is64) {
    for (int i = 0; i < 4; ++i) dst[i] = uint8_t(size >> (24 - 8 * i));
    std::memcpy(dst + 4, type_.data(), 4);
    return 8;
  }
  const uint8_t escape[4] = {0, 0, 0, 1};
  std::memcpy(dst, escape, 4);
  std::memcpy(dst + 4, type_.data(), 4);
  for (int i = 0; i < 8; ++i) dst[8 + i] = uint8_t(size >> (56 - 8 * i));
  return 16;
}

uint64_t Atom_Writer::write_atom(uint8_t* dst) const {
  const uint64_t header = write_header(dst);
  if (!payload_.empty()) std::memcpy(dst + header, payload_.data(), payload_.size());
  return header + payload_.size();
}

std::vector<uint8_t> Atom_Writer::serialise() const {
  std::vector<uint8_t> bytes(size());
  write_atom(bytes.data());
  return bytes;
}

void Atom_Writer::append_be16(uint16_t v) {
  payload_.push_back(uint8_t(v >> 8));
  payload_.push_back(uint8_t(v));
}

void Atom_Writer::append_le16(uint16_t v) {
  payload_.push_back(uint8_t(v));
  payload_.push_back(uint8_t(v >> 8));
}

void Atom_Writer::append_be32(uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) payload_.push_back(uint8_t(v >> shift));
}

void Atom_Writer::append_le32(uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) payload_.push_back(uint8_t(v >> shift));
}

void Atom_Writer::append_be64(uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) payload_.push_back(uint8_t(v >> shift));
}

void Atom_Writer::append_be_f32(float v) { append_be32(std::bit_cast<uint32_t>(v)); }

void Atom_Writer::append_be_f64(double v) { append_be64(std::bit_cast<uint64_t>(v)); }

void Atom_Writer::append_bytes(const void* data, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  payload_.insert(payload_.end(), bytes, bytes + length);
}

std::vector<const Atom_Writer*> Container_Atom::children() const {
  std::vector<const Atom_Writer*> list;
  list.reserve(owned_.size());
  for (const auto& child : owned_) list.push_back(child.get());
  return list;
}

uint64_t Container_Atom::get_atom_size(bool* is64) const {
  uint64_t sum = 0;
  for (const Atom_Writer* child : children()) sum += child->size();
  return atom_size_for_payload(sum, is64);
}

uint64_t Container_Atom::write_atom(uint8_t* dst) const {
  uint64_t written = write_header(dst);
  for (const Atom_Writer* child : children()) written += child->write_atom(dst + written);
  return written;
}
