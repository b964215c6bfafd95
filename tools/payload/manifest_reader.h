// Reads the payload manifest (app/manifest.inc) for the build tools.
#pragma once

#include <cstdint>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace zunto::tools {

struct ManifestRow {
  std::string name;  // "./data/..."
  uint64_t bytes = 0;
  int step = 0;
};

inline std::vector<ManifestRow> ReadManifest(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read manifest " + path);
  const std::regex row(R"re(^ZPATCH_ENTRY\("([^"]+)", ([0-9]+), ([0-9]+)\)\s*$)re");
  std::vector<ManifestRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    rows.push_back({m[1].str(), std::stoull(m[2].str()), std::stoi(m[3].str())});
  }
  if (rows.empty()) throw std::runtime_error("no entries in manifest " + path);
  return rows;
}

// The file below a payload folder that holds the block named `name` ("./data/x" -> "<dir>/data/x").
inline std::string PayloadFilePath(const std::string& dir, const std::string& name) {
  return dir + "/" + (name.rfind("./", 0) == 0 ? name.substr(2) : name);
}

}  // namespace zunto::tools
