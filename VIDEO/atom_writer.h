// Base of every QuickTime atom of the movie header. A leaf atom builds its
// big-endian payload in its constructor; a container owns its children and
// has no payload. Sizes are recomputed from the payloads every time they are
// asked for, so what is allocated and what is written always agree.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

using Four_CC = std::array<char, 4>;

// Size of an atom holding `payload_bytes`: payload + 8, or payload + 16 with
// *is64 set when the 32-bit size field cannot hold payload + 8.
uint64_t atom_size_for_payload(uint64_t payload_bytes, bool* is64);

class Atom_Writer {
 public:
  explicit Atom_Writer(const char* type);  // four characters, no terminator needed
  Atom_Writer();                           // type "    "
  Atom_Writer(const Atom_Writer&) = default;
  Atom_Writer& operator=(const Atom_Writer&) = default;
  virtual ~Atom_Writer() = default;

  // Full size with header; *is64 tells whether the header needs the 16-byte form.
  virtual uint64_t get_atom_size(bool* is64) const;
  // Serialises header and body at dst (which holds get_atom_size bytes);
  // returns the bytes written.
  virtual uint64_t write_atom(uint8_t* dst) const;
  // The atoms below this one, in writing order (empty for a leaf).
  virtual std::vector<const Atom_Writer*> children() const { return {}; }

  void set_type(char a, char b, char c, char d);
  void set_type(const Four_CC& type) { type_ = type; }
  const Four_CC& type() const { return type_; }
  const std::vector<uint8_t>& payload() const { return payload_; }
  uint64_t size() const;  // get_atom_size without the flag

  // Complete bytes of the atom, header included.
  std::vector<uint8_t> serialise() const;

 protected:
  void append_u8(uint8_t v) { payload_.push_back(v); }
  void append_be16(uint16_t v);
  void append_le16(uint16_t v);
  void append_be32(uint32_t v);
  void append_le32(uint32_t v);
  void append_be64(uint64_t v);
  void append_be_f32(float v);
  void append_be_f64(double v);
  void append_bytes(const void* data, size_t length);
  void append_bytes(const std::vector<uint8_t>& bytes) { append_bytes(bytes.data(), bytes.size()); }
  void append_fourcc(const char* code) { append_bytes(code, 4); }
  // Appends the complete bytes of another atom (header included).
  void append_atom(const Atom_Writer& atom) { append_bytes(atom.serialise()); }
  // Writes the 8- or 16-byte header at dst; returns its length.
  uint64_t write_header(uint8_t* dst) const;

 private:
  Four_CC type_;
  std::vector<uint8_t> payload_;
};

// An atom made only of child atoms, written in the order they were added.
class Container_Atom : public Atom_Writer {
 public:
  using Atom_Writer::Atom_Writer;
  uint64_t get_atom_size(bool* is64) const override;
  uint64_t write_atom(uint8_t* dst) const override;
  std::vector<const Atom_Writer*> children() const override;

 protected:
  template <class Child, class... Args>
  Child& emplace_child(Args&&... args) {
    auto child = std::make_unique<Child>(std::forward<Args>(args)...);
    Child& ref = *child;
    owned_.push_back(std::move(child));
    return ref;
  }

 private:
  std::vector<std::unique_ptr<Atom_Writer>> owned_;
};
