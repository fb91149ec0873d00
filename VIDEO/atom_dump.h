// Debugging aid: prints an atom tree, one "ATOM : type. LENGTH : size" line
// per atom indented with tabs by depth, to standard output. Not used by an
// export; the sizes shown are the ones that would be written.
#pragma once
#include <ostream>

#include "VIDEO/atom_writer.h"

// Prints `atom` unindented and everything below it. Below a "moov", the
// children of "tapt" are left out and an empty "udta" gets the line
// "UDTA : Empty (not write)".
void dump_atom_tree(const Atom_Writer& atom, std::ostream& out);
void dump_atom_tree(const Atom_Writer& atom);
