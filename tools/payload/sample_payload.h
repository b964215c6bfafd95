// Deterministic stand-ins for the payload files, one maker per kind of file.
#pragma once

#include <cstdint>
#include <string>

namespace zunto::tools {

// Bytes of exactly `size` for the block `name`, chosen by its extension. Pictures and fonts are not
// made here (they are committed assets); for those this throws.
std::string MakeSampleFile(const std::string& name, uint64_t size);

std::string MakeExecutable(const std::string& name, uint64_t size);
std::string MakePdf(const std::string& title, uint64_t size);
std::string MakeReleaseNotes(int level, uint64_t size);
std::string MakeBatchFile(const std::string& name, uint64_t size);
std::string MakePlaySet(const std::string& folder, const std::string& play, uint64_t size);

}  // namespace zunto::tools
