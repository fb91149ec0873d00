// Reader of the BC7 table file: "#" lines are comments, "[name]" starts a
// section, every other line is one row of the current section.
#include "tests/support/bc7_tables.h"

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace bc7_tables {
namespace {

struct Line {
  int number;
  std::string text;
};

class Table_File {
 public:
  explicit Table_File(const std::string& path) : path_(path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open BC7 table file " + path);
    std::vector<Line>* current = nullptr;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
      while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
      if (text.empty() || text[0] == '#') continue;
      if (text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) fail(number, "unclosed section name");
        const auto [it, added] = sections_.try_emplace(text.substr(1, close - 1));
        if (!added) fail(number, "section [" + it->first + "] given twice");
        current = &it->second;
        continue;
      }
      if (current == nullptr) fail(number, "row before the first section");
      current->push_back({number, text});
    }
  }

  // The rows of a section that must hold exactly `rows` of them.
  const std::vector<Line>& section(const std::string& name, size_t rows) {
    const auto it = sections_.find(name);
    if (it == sections_.end()) fail(0, "no section [" + name + "]");
    if (it->second.size() != rows)
      fail(0, "section [" + name + "] has " + std::to_string(it->second.size()) + " rows, not " +
                  std::to_string(rows));
    used_.push_back(name);
    return it->second;
  }

  // The whitespace-separated numbers of a row: exactly `count`, each in 0..max.
  std::vector<int> numbers(const Line& line, size_t count, int max) {
    std::istringstream in(line.text);
    std::vector<int> values;
    for (int v; in >> v;) {
      if (v < 0 || v > max) fail(line.number, std::to_string(v) + " is out of range");
      values.push_back(v);
    }
    if (!in.eof() || values.size() != count)
      fail(line.number, "expected " + std::to_string(count) + " numbers");
    return values;
  }

  // A row that begins with its own index.
  std::vector<int> indexed_row(const Line& line, int row, size_t count, int max) {
    std::vector<int> values = numbers(line, count + 1, 255);
    if (values[0] != row) fail(line.number, "expected row " + std::to_string(row));
    values.erase(values.begin());
    for (int v : values)
      if (v > max) fail(line.number, std::to_string(v) + " is out of range");
    return values;
  }

  // Every section was asked for.
  void check_all_used() {
    for (const auto& [name, lines] : sections_) {
      bool used = false;
      for (const std::string& u : used_) used = used || u == name;
      if (!used) fail(lines.empty() ? 0 : lines[0].number, "unknown section [" + name + "]");
    }
  }

  [[noreturn]] void fail(int line, const std::string& what) const {
    throw std::runtime_error(path_ + (line > 0 ? ":" + std::to_string(line) : "") + ": " + what);
  }

 private:
  std::string path_;
  std::map<std::string, std::vector<Line>> sections_;
  std::vector<std::string> used_;
};

template <size_t N>
void read_weights(Table_File& file, const char* name, uint8_t (&out)[N]) {
  const std::vector<int> values = file.numbers(file.section(name, 1)[0], N, 64);
  for (size_t k = 0; k < N; ++k) out[k] = uint8_t(values[k]);
}

void read_partitions(Table_File& file, const char* name, int subsets, uint8_t (&out)[64][16]) {
  const std::vector<Line>& lines = file.section(name, 64);
  for (int k = 0; k < 64; ++k) {
    const std::string& digits = lines[k].text;
    if (digits.size() != 16) file.fail(lines[k].number, "expected 16 digits");
    for (int p = 0; p < 16; ++p) {
      const int subset = digits[p] - '0';
      if (subset < 0 || subset >= subsets) file.fail(lines[k].number, "bad subset digit");
      out[k][p] = uint8_t(subset);
    }
  }
}

}  // namespace

Tables read_file(const std::string& path) {
  Table_File file(path);
  Tables t{};
  read_weights(file, "weights2", t.weights2);
  read_weights(file, "weights3", t.weights3);
  read_weights(file, "weights4", t.weights4);

  const std::vector<Line>& modes = file.section("modes", 8);
  for (int k = 0; k < 8; ++k) {
    const std::vector<int> v = file.indexed_row(modes[k], k, 10, 8);
    t.modes[k] = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]};
  }

  read_partitions(file, "partitions2", 2, t.partitions2);
  read_partitions(file, "partitions3", 3, t.partitions3);
  const std::vector<Line>& anchors2 = file.section("anchors2", 64);
  const std::vector<Line>& anchors3 = file.section("anchors3", 64);
  for (int k = 0; k < 64; ++k) {
    t.anchors2[k] = uint8_t(file.indexed_row(anchors2[k], k, 1, 15)[0]);
    const std::vector<int> pair = file.indexed_row(anchors3[k], k, 2, 15);
    t.anchors3[k][0] = uint8_t(pair[0]);
    t.anchors3[k][1] = uint8_t(pair[1]);
  }
  file.check_all_used();
  return t;
}

const Tables& shared() {
  static const Tables tables = read_file(HAP_BC7_TABLES);
  return tables;
}

}  // namespace bc7_tables
