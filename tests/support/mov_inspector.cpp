#include "tests/support/mov_inspector.h"

#include <algorithm>
#include <stdexcept>

namespace mov_test {

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return uint32_t(be16(p)) << 16 | be16(p + 2); }
uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

namespace {

bool is_container(const std::string& type, const std::string& parent) {
  static const char* const containers[] = {"moov", "trak", "mdia", "minf", "stbl", "tapt",
                                           "edts", "dinf", "udta", "tref", "gmhd"};
  for (const char* c : containers)
    if (type == c) return true;
  return type == "tmcd" && parent == "gmhd";
}

std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

void collect(const std::vector<Atom>& level, const std::vector<std::string>& parts, size_t depth,
             std::vector<const Atom*>& out) {
  for (const Atom& atom : level) {
    if (atom.type != parts[depth]) continue;
    if (depth + 1 == parts.size())
      out.push_back(&atom);
    else
      collect(atom.children, parts, depth + 1, out);
  }
}

std::vector<const Atom*> find_below(const std::vector<Atom>& level, const std::string& path) {
  std::vector<const Atom*> out;
  const auto parts = split_path(path);
  if (!parts.empty()) collect(level, parts, 0, out);
  return out;
}

}  // namespace

uint32_t Track_Tables::sample_size(uint64_t index) const {
  return constant_sample_size ? constant_sample_size : sample_sizes.at(index);
}

std::vector<uint32_t> Track_Tables::samples_per_chunk() const {
  std::vector<uint32_t> counts(chunk_offsets.size(), 0);
  for (size_t e = 0; e < stsc.size(); ++e) {
    const size_t first = stsc[e].first_chunk - 1;
    const size_t last = e + 1 < stsc.size() ? stsc[e + 1].first_chunk - 1 : counts.size();
    for (size_t c = first; c < last && c < counts.size(); ++c)
      counts[c] = stsc[e].samples_per_chunk;
  }
  return counts;
}

Mov_File::Mov_File(const std::string& path) : in_(path, std::ios::binary) {
  if (!in_) throw std::runtime_error("cannot open " + path);
  in_.seekg(0, std::ios::end);
  file_size_ = uint64_t(in_.tellg());
  atoms_ = parse_level(0, file_size_, "");
}

std::vector<Atom> Mov_File::parse_level(uint64_t begin, uint64_t end, const std::string& parent) {
  std::vector<Atom> level;
  uint64_t at = begin;
  while (at + 8 <= end) {
    const std::vector<uint8_t> head = read(at, std::min<uint64_t>(16, end - at));
    Atom atom;
    atom.offset = at;
    atom.type.assign(reinterpret_cast<const char*>(head.data() + 4), 4);
    atom.size = be32(head.data());
    if (atom.size == 1) {
      if (head.size() < 16) throw std::runtime_error("truncated 64-bit atom header");
      atom.header = 16;
      atom.size = be64(head.data() + 8);
    } else if (atom.size == 0) {
      atom.size = end - at;  // runs to the end of the file
    }
    if (atom.size < atom.header || atom.size > end - at)
      throw std::runtime_error("atom " + atom.type + " at " + std::to_string(at) +
                               " has a bad size " + std::to_string(atom.size));
    if (is_container(atom.type, parent))
      atom.children = parse_level(atom.payload_offset(), at + atom.size, atom.type);
    at += atom.size;
    level.push_back(std::move(atom));
  }
  if (at != end) throw std::runtime_error("trailing bytes after the last atom");
  return level;
}

std::vector<const Atom*> Mov_File::find_all(const std::string& path) const { return find_below(atoms_, path); }

std::vector<const Atom*> Mov_File::find_all(const Atom& root, const std::string& path) const {
  return find_below(root.children, path);
}

const Atom* Mov_File::find(const std::string& path, size_t index) const {
  const auto all = find_all(path);
  return index < all.size() ? all[index] : nullptr;
}

const Atom* Mov_File::find(const Atom& root, const std::string& path) const {
  const auto all = find_all(root, path);
  return all.empty() ? nullptr : all.front();
}

std::vector<uint8_t> Mov_File::read(uint64_t offset, uint64_t size) const {
  if (offset > file_size_ || size > file_size_ - offset)
    throw std::runtime_error("read past the end of the file at " + std::to_string(offset));
  std::vector<uint8_t> data(size);
  in_.clear();
  in_.seekg(std::streamoff(offset));
  in_.read(reinterpret_cast<char*>(data.data()), std::streamsize(size));
  if (!in_) throw std::runtime_error("read failed at " + std::to_string(offset));
  return data;
}

std::vector<uint8_t> Mov_File::payload(const Atom& atom) const {
  return read(atom.payload_offset(), atom.payload_size());
}

Track_Tables Mov_File::tables(const Atom& trak) const {
  Track_Tables t;
  auto need = [&](const std::string& path) {
    const Atom* atom = find(trak, path);
    if (!atom) throw std::runtime_error("track without " + path);
    return payload(*atom);
  };
  const auto tkhd = need("tkhd");
  t.track_id = be32(&tkhd[12]);
  t.track_duration = be32(&tkhd[20]);
  const auto hdlr = need("mdia/hdlr");
  t.handler.assign(reinterpret_cast<const char*>(&hdlr[8]), 4);
  const auto mdhd = need("mdia/mdhd");
  t.time_scale = be32(&mdhd[12]);
  t.media_duration = be32(&mdhd[16]);

  const auto stsd = need("mdia/minf/stbl/stsd");
  t.sample_description.assign(stsd.begin() + 8, stsd.end());
  t.sample_format.assign(reinterpret_cast<const char*>(&stsd[12]), 4);

  const auto stsz = need("mdia/minf/stbl/stsz");
  t.constant_sample_size = be32(&stsz[4]);
  t.sample_count = be32(&stsz[8]);
  if (t.constant_sample_size == 0)
    for (uint32_t i = 0; i < t.sample_count; ++i) t.sample_sizes.push_back(be32(&stsz[12 + 4 * i]));

  const Atom* co = find(trak, "mdia/minf/stbl/stco");
  if (!co) co = find(trak, "mdia/minf/stbl/co64");
  if (!co) throw std::runtime_error("track without chunk offsets");
  const bool co64 = co->type == "co64";
  const auto offsets = payload(*co);
  for (uint32_t i = 0, n = be32(&offsets[4]); i < n; ++i)
    t.chunk_offsets.push_back(co64 ? be64(&offsets[8 + 8 * i]) : be32(&offsets[8 + 4 * i]));

  const auto stsc = need("mdia/minf/stbl/stsc");
  for (uint32_t i = 0, n = be32(&stsc[4]); i < n; ++i)
    t.stsc.push_back({be32(&stsc[8 + 12 * i]), be32(&stsc[12 + 12 * i]), be32(&stsc[16 + 12 * i])});
  const auto stts = need("mdia/minf/stbl/stts");
  for (uint32_t i = 0, n = be32(&stts[4]); i < n; ++i)
    t.stts.push_back({be32(&stts[8 + 8 * i]), be32(&stts[12 + 8 * i])});

  if (const Atom* elst = find(trak, "edts/elst")) {
    const auto list = payload(*elst);
    t.edit_count = be32(&list[4]);
    for (size_t at = 8; at + 12 <= list.size(); at += 12)
      t.edits.push_back({be32(&list[at]), int32_t(be32(&list[at + 4])), be32(&list[at + 8])});
  }

  for (const Atom* entry : find_all(trak, "tref/tmcd")) {
    const auto ids = payload(*entry);
    for (size_t i = 0; i + 4 <= ids.size(); i += 4) t.tref_timecode.push_back(be32(&ids[i]));
  }
  return t;
}

Track_Tables Mov_File::track(const std::string& handler, size_t index) const {
  for (const Atom* trak : tracks()) {
    Track_Tables t = tables(*trak);
    if (t.handler == handler && index-- == 0) return t;
  }
  throw std::runtime_error("no " + handler + " track");
}

uint64_t Mov_File::sample_offset(const Track_Tables& track, uint64_t index) const {
  const std::vector<uint32_t> counts = track.samples_per_chunk();
  uint64_t first = 0;
  for (size_t chunk = 0; chunk < counts.size(); ++chunk) {
    if (index < first + counts[chunk]) {
      uint64_t offset = track.chunk_offsets[chunk];
      for (uint64_t s = first; s < index; ++s) offset += track.sample_size(s);
      return offset;
    }
    first += counts[chunk];
  }
  throw std::runtime_error("sample " + std::to_string(index) + " lies in no chunk");
}

std::vector<uint8_t> Mov_File::sample(const Track_Tables& track, uint64_t index) const {
  return read(sample_offset(track, index), track.sample_size(index));
}

std::vector<uint8_t> Mov_File::track_data(const Track_Tables& track) const {
  const std::vector<uint32_t> counts = track.samples_per_chunk();
  std::vector<uint8_t> data;
  uint64_t sample = 0;
  for (size_t chunk = 0; chunk < counts.size() && sample < track.sample_count; ++chunk) {
    const uint64_t in_chunk = std::min<uint64_t>(counts[chunk], track.sample_count - sample);
    uint64_t bytes = 0;
    for (uint64_t s = 0; s < in_chunk; ++s) bytes += track.sample_size(sample + s);
    const auto piece = read(track.chunk_offsets[chunk], bytes);
    data.insert(data.end(), piece.begin(), piece.end());
    sample += in_chunk;
  }
  return data;
}

}  // namespace mov_test
