// The stand-in host's export parameters: the Export Param suite over a tree
// of groups and parameters, its text dump, and changes checked the way the
// host's dialog checks them.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <sstream>
#include <stdexcept>

#include "host/stand_in_host.h"
#include "platform/file_io.h"

namespace host {

std::string narrow(std::u16string_view text) {
  std::string out;
  if (!platform::utf16_to_utf8(text, out)) out = "?";
  return out;
}

namespace {

Host_Param* param_of(const char* identifier) {
  return identifier ? Stand_In_Host::active().params.find(identifier) : nullptr;
}

Host_Group* group_of(const char* identifier) {
  if (!identifier) return nullptr;
  for (Host_Group& g : Stand_In_Host::active().params.groups)
    if (g.identifier == identifier) return &g;
  return nullptr;
}

const sdk::Export_Param_Suite param_suite_table = [] {
  sdk::Export_Param_Suite s{};
  s.set_params_version = [](sdk::Plugin_Id, int32_t version) {
    Stand_In_Host::active().params.params_version = version;
    return sdk::result_ok;
  };
  s.add_multi_group = [](sdk::Plugin_Id, int32_t* group) {
    *group = Stand_In_Host::active().params.multi_group_count++;
    return sdk::result_ok;
  };
  s.add_param = [](sdk::Plugin_Id, int32_t, const char* parent, const sdk::New_Param_Info* info) {
    Param_Tree& tree = Stand_In_Host::active().params;
    if (!info || !parent || tree.find(info->identifier)) return host_error;
    Host_Param p;
    p.identifier = std::string(info->identifier, strnlen(info->identifier, sdk::identifier_field_length));
    p.parent_group = parent;
    p.type = info->type;
    p.flags = info->flags;
    p.values = info->values;
    tree.params.push_back(std::move(p));
    return sdk::result_ok;
  };
  s.add_param_group = [](sdk::Plugin_Id, int32_t, const char* parent, const char* id, const char16_t* name, int32_t,
                         int32_t, int32_t) {
    if (!parent || !id || group_of(id)) return host_error;
    Stand_In_Host::active().params.groups.push_back({id, parent, name ? name : u""});
    return sdk::result_ok;
  };
  s.change_param = [](sdk::Plugin_Id, int32_t, const char* id, const sdk::Param_Values* values) {
    Host_Param* p = param_of(id);
    if (!p || !values) return host_error;
    p->values = *values;
    p->values.text[sdk::text_field_length - 1] = 0;
    return sdk::result_ok;
  };
  s.get_param_value = [](sdk::Plugin_Id, int32_t, const char* id, sdk::Param_Values* values) {
    switch (Stand_In_Host::active().faults.param_read_throws) {
      case 1:
        throw std::bad_alloc();
      case 2:
        throw std::runtime_error("parameter read failed");
      case 3:
        throw 42;
      default:
        break;
    }
    Host_Param* p = param_of(id);
    if (!values) return host_error;
    if (!p) {
      *values = {};
      return host_error;
    }
    *values = p->values;
    return sdk::result_ok;
  };
  s.set_param_name = [](sdk::Plugin_Id, int32_t, const char* id, const char16_t* name) {
    if (!name) return host_error;
    if (Host_Param* p = param_of(id)) {
      p->name = name;
      return sdk::result_ok;
    }
    if (Host_Group* g = group_of(id)) {
      g->name = name;
      return sdk::result_ok;
    }
    return host_error;
  };
  s.add_constrained_value = [](sdk::Plugin_Id, int32_t, const char* id, const sdk::Param_Scalar* value,
                               const char16_t* label) {
    Host_Param* p = param_of(id);
    if (!p || !value || !label) return host_error;
    p->choices.emplace_back(*value, label);
    return sdk::result_ok;
  };
  s.clear_constrained_values = [](sdk::Plugin_Id, int32_t, const char* id) {
    Host_Param* p = param_of(id);
    if (!p) return host_error;
    p->choices.clear();
    return sdk::result_ok;
  };
  s.set_param_description = [](sdk::Plugin_Id, int32_t, const char* id, const char16_t* text) {
    Host_Param* p = param_of(id);
    if (!p || !text) return host_error;
    p->description = text;
    return sdk::result_ok;
  };
  return s;
}();

const char* type_name(int32_t type) {
  switch (type) {
    case sdk::param_checkbox:
      return "checkbox";
    case sdk::param_integer:
      return "integer";
    case sdk::param_frame_rate:
      return "frame rate";
    case sdk::param_string:
      return "string";
    case sdk::param_ratio:
      return "ratio";
    default:
      return "unknown";
  }
}

std::string scalar_text(int32_t type, const sdk::Param_Scalar& v) {
  switch (type) {
    case sdk::param_frame_rate:
      return std::to_string(v.time);
    case sdk::param_ratio:
      return std::to_string(v.ratio.numerator) + "/" + std::to_string(v.ratio.denominator);
    default:
      return std::to_string(v.integer);
  }
}

bool same_value(int32_t type, const sdk::Param_Scalar& a, const sdk::Param_Scalar& b) {
  switch (type) {
    case sdk::param_frame_rate:
      return a.time == b.time;
    case sdk::param_ratio:
      return a.ratio.numerator == b.ratio.numerator && a.ratio.denominator == b.ratio.denominator;
    default:
      return a.integer == b.integer;
  }
}

// Whole-text integer parsing; false on anything else. A number beyond 64
// bits is held at the bound on its side, outside every range it is checked
// against.
bool parse_int(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc::result_out_of_range && ptr == end) {
    value = text.starts_with('-') ? INT64_MIN : INT64_MAX;
    return true;
  }
  return ec == std::errc() && ptr == end;
}

bool parse_ratio(std::string_view text, int64_t& numerator, int64_t& denominator) {
  const size_t slash = text.find_first_of("/:");
  if (slash == std::string_view::npos) {
    denominator = 1;
    return parse_int(text, numerator);
  }
  return parse_int(text.substr(0, slash), numerator) && parse_int(text.substr(slash + 1), denominator);
}

[[noreturn]] void reject(const Host_Param& p, const std::string& text, const std::string& why) {
  throw std::invalid_argument("invalid value \"" + text + "\" for " + p.identifier + ": " + why);
}

}  // namespace

const sdk::Export_Param_Suite& export_param_suite() { return param_suite_table; }

Host_Param* Param_Tree::find(const std::string& identifier) {
  for (Host_Param& p : params)
    if (p.identifier == identifier) return &p;
  return nullptr;
}

const Host_Param* Param_Tree::find(const std::string& identifier) const {
  return const_cast<Param_Tree*>(this)->find(identifier);
}

std::string Param_Tree::value_text(const Host_Param& p) const {
  if (p.type == sdk::param_string) return "\"" + narrow(p.values.text) + "\"";
  return scalar_text(p.type, p.values.value);
}

std::string Param_Tree::dump() const {
  std::ostringstream out;
  // Groups hang from their parent; the top group is the host's own.
  auto print_group = [&](auto& self, const std::string& id, int depth) -> void {
    const std::string indent(depth * 2, ' ');
    for (const Host_Group& g : groups) {
      if (g.parent != id) continue;
      out << indent << g.identifier << " \"" << narrow(g.name) << "\"\n";
      for (const Host_Param& p : params) {
        if (p.parent_group != g.identifier) continue;
        out << indent << "  " << p.identifier << " \"" << narrow(p.name) << "\" " << type_name(p.type) << " = "
            << value_text(p);
        if (p.type != sdk::param_string && p.type != sdk::param_checkbox &&
            !same_value(p.type, p.values.range_min, p.values.range_max))
          out << " [" << scalar_text(p.type, p.values.range_min) << ".." << scalar_text(p.type, p.values.range_max)
              << "]";
        if (p.flags & sdk::param_flag_slider) out << " slider";
        if (p.flags & sdk::param_flag_read_only) out << " read-only";
        if (p.values.disabled) out << " (disabled)";
        if (!p.description.empty()) out << " -- " << narrow(p.description);
        out << "\n";
        for (const auto& [value, label] : p.choices)
          out << indent << "    " << scalar_text(p.type, value) << " \"" << narrow(label) << "\"\n";
      }
      self(self, g.identifier, depth + 1);
    }
  };
  out << "ADBETopParamGroup\n";
  print_group(print_group, "ADBETopParamGroup", 1);
  return out.str();
}

void Param_Tree::set_from_text(const std::string& identifier, const std::string& text) {
  Host_Param* found = find(identifier);
  if (!found) throw std::invalid_argument("unknown export parameter: " + identifier);
  Host_Param& p = *found;
  if (p.flags & sdk::param_flag_read_only) reject(p, text, "read-only");
  sdk::Param_Scalar v{};
  switch (p.type) {
    case sdk::param_checkbox: {
      int64_t n = 0;
      if (!parse_int(text, n) || (n != 0 && n != 1)) reject(p, text, "a checkbox takes 0 or 1");
      v.integer = int32_t(n);
      break;
    }
    case sdk::param_integer: {
      int64_t n = 0;
      if (!parse_int(text, n)) reject(p, text, "not an integer");
      // The range is the value list's when there is one (whose gaps are
      // checked below), else the parameter's, else the value's 32 bits.
      sdk::Param_Scalar lo = p.values.range_min, hi = p.values.range_max;
      if (!p.choices.empty()) {
        const auto [least, most] = std::ranges::minmax(p.choices, {}, [](const auto& c) { return c.first.integer; });
        lo = least.first;
        hi = most.first;
      } else if (lo.integer >= hi.integer) {
        lo.integer = INT32_MIN;
        hi.integer = INT32_MAX;
      }
      if (n < lo.integer || n > hi.integer)
        reject(p, text, "outside " + scalar_text(p.type, lo) + ".." + scalar_text(p.type, hi));
      v.integer = int32_t(n);
      break;
    }
    case sdk::param_ratio: {
      int64_t n = 0, d = 0;
      if (!parse_ratio(text, n, d) || n <= 0 || d <= 0 || n > INT32_MAX || d > INT32_MAX)
        reject(p, text, "a ratio N/D of positive numbers is expected");
      const double q = double(n) / double(d);
      const sdk::Ratio lo = p.values.range_min.ratio, hi = p.values.range_max.ratio;
      if (lo.denominator > 0 && hi.denominator > 0 &&
          (q < double(lo.numerator) / lo.denominator || q > double(hi.numerator) / hi.denominator))
        reject(p, text,
               "outside " + scalar_text(p.type, p.values.range_min) + ".." + scalar_text(p.type, p.values.range_max));
      v.ratio = {int32_t(n), int32_t(d)};
      break;
    }
    case sdk::param_frame_rate: {
      // Frames per second as N or N/D.
      int64_t n = 0, d = 0;
      if (!parse_ratio(text, n, d) || n <= 0 || d <= 0) reject(p, text, "a frame rate N or N/D is expected");
      v.time = ticks_per_frame(n, d);
      if (v.time < p.values.range_min.time || v.time > p.values.range_max.time)
        reject(p, text, "frame rate out of range");
      break;
    }
    default:
      reject(p, text, "this parameter cannot be set");
  }
  if (!p.choices.empty()) {
    bool listed = false;
    for (const auto& [choice, label] : p.choices) listed = listed || same_value(p.type, choice, v);
    if (!listed && p.type == sdk::param_integer) {
      std::string allowed;
      for (const auto& [choice, label] : p.choices) allowed += " " + scalar_text(p.type, choice);
      reject(p, text, "not one of" + allowed);
    }
  }
  p.values.value = v;
}

}  // namespace host
