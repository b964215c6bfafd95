// Reads the payload manifest (app/manifest.inc) for the build tools.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
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
  // ZPATCH_ENTRY("<name>", <bytes>, <step>)
  const std::string head = "ZPATCH_ENTRY(\"";
  std::vector<ManifestRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(head, 0) != 0) continue;
    const size_t nameEnd = line.find('"', head.size());
    if (nameEnd == std::string::npos) throw std::runtime_error("unreadable manifest line: " + line);
    ManifestRow row;
    row.name = line.substr(head.size(), nameEnd - head.size());
    char tail = 0;
    unsigned long long bytes = 0;
    int step = 0;
    if (std::sscanf(line.c_str() + nameEnd + 1, ", %llu, %d%c", &bytes, &step, &tail) != 3 || tail != ')') {
      throw std::runtime_error("unreadable manifest line: " + line);
    }
    row.bytes = bytes;
    row.step = step;
    rows.push_back(row);
  }
  if (rows.empty()) throw std::runtime_error("no entries in manifest " + path);
  return rows;
}

// The file below a payload folder that holds the block named `name` ("./data/x" -> "<dir>/data/x").
inline std::string PayloadFilePath(const std::string& dir, const std::string& name) {
  return dir + "/" + (name.rfind("./", 0) == 0 ? name.substr(2) : name);
}

}  // namespace zunto::tools
