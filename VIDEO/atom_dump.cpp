#include "VIDEO/atom_dump.h"

#include <cstring>
#include <iostream>
#include <string>

#include "VIDEO/moov_writer.h"

namespace {

bool is(const Atom_Writer& atom, const char* type) {
  return std::memcmp(atom.type().data(), type, 4) == 0;
}

// Tabs before the children of a container, by the container's type.
int child_indent(const Atom_Writer& parent) {
  if (is(parent, "trak") || is(parent, "udta")) return 1;
  if (is(parent, "mdia")) return 2;
  if (is(parent, "minf")) return 3;
  if (is(parent, "stbl") || is(parent, "tref") || is(parent, "tapt")) return 4;
  return 0;
}

void print_line(const Atom_Writer& atom, int tabs, std::ostream& out) {
  out << std::string(size_t(tabs), '\t') << "ATOM : " << std::string(atom.type().data(), 4)
      << ". LENGTH : " << atom.size() << std::endl;
}

void print_tree(const Atom_Writer& atom, int tabs, bool top, std::ostream& out) {
  print_line(atom, tabs, out);
  if (is(atom, "tapt") && !top) return;
  for (const Atom_Writer* child : atom.children())
    print_tree(*child, child_indent(atom), false, out);
  if (const auto* moov = dynamic_cast<const Moov_Video_Writer*>(&atom);
      moov && moov->udta_atom().is_empty())
    out << "UDTA : Empty (not write)" << std::endl;
}

}  // namespace

void dump_atom_tree(const Atom_Writer& atom, std::ostream& out) { print_tree(atom, 0, true, out); }

void dump_atom_tree(const Atom_Writer& atom) { dump_atom_tree(atom, std::cout); }
