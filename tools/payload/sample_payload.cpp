#include "tools/payload/sample_payload.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace zunto::tools {
namespace {

// FNV-1a: a stable seed per file name, so every build makes the same bytes.
uint64_t Seed(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

class Filler {
 public:
  explicit Filler(uint64_t seed) : state_(seed | 1) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 2685821657736338717ull;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

std::string BaseName(const std::string& name) {
  size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string Extension(const std::string& name) {
  std::string base = BaseName(name);
  size_t dot = base.find_last_of('.');
  return dot == std::string::npos ? std::string() : base.substr(dot + 1);
}

std::string Stem(const std::string& name) {
  std::string base = BaseName(name);
  return base.substr(0, base.find_last_of('.'));
}

void Put16(std::string& s, size_t at, unsigned v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, v & 0xFFFF);
  Put16(s, at + 2, v >> 16);
}

void RequireAtLeast(const std::string& name, uint64_t size, uint64_t minimum) {
  if (size < minimum) {
    throw std::runtime_error(name + ": " + std::to_string(size) + " bytes is too small for a sample (needs " +
                             std::to_string(minimum) + ")");
  }
}

}  // namespace

// A DOS stub and a PE header for a 32-bit GUI program with one code section, then filler.
std::string MakeExecutable(const std::string& name, uint64_t size) {
  RequireAtLeast(name, size, 0x400);
  std::string exe(size, '\0');
  exe[0] = 'M';
  exe[1] = 'Z';
  Put16(exe, 0x02, 0x90);
  Put16(exe, 0x04, 3);
  Put16(exe, 0x08, 4);
  Put16(exe, 0x0C, 0xFFFF);
  Put16(exe, 0x10, 0xB8);
  Put16(exe, 0x18, 0x40);
  Put32(exe, 0x3C, 0x80);
  const unsigned char stubCode[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
  for (size_t i = 0; i < sizeof stubCode; ++i) exe[0x40 + i] = static_cast<char>(stubCode[i]);
  const std::string stubText = "This program cannot be run in DOS mode.\r\r\n$";
  exe.replace(0x4E, stubText.size(), stubText);

  const size_t pe = 0x80;
  exe.replace(pe, 4, std::string("PE\0\0", 4));
  Put16(exe, pe + 4, 0x014C);      // i386
  Put16(exe, pe + 6, 1);           // one section
  Put32(exe, pe + 8, 0x4B1D2A00);  // link time
  Put16(exe, pe + 20, 0xE0);       // optional header size
  Put16(exe, pe + 22, 0x0102);     // executable, 32-bit
  const size_t opt = pe + 24;
  const uint32_t codeSize = static_cast<uint32_t>((size - 0x400) & ~uint64_t{0x1FF});
  Put16(exe, opt, 0x010B);
  Put32(exe, opt + 4, codeSize);
  Put32(exe, opt + 16, 0x1000);  // entry point
  Put32(exe, opt + 20, 0x1000);
  Put32(exe, opt + 28, 0x00400000);
  Put32(exe, opt + 32, 0x1000);
  Put32(exe, opt + 36, 0x200);
  Put16(exe, opt + 40, 4);
  Put16(exe, opt + 48, 4);
  Put32(exe, opt + 56, 0x1000 + ((codeSize + 0xFFF) & ~0xFFFu));
  Put32(exe, opt + 60, 0x400);
  Put16(exe, opt + 68, 2);  // Windows GUI
  Put32(exe, opt + 72, 0x100000);
  Put32(exe, opt + 76, 0x1000);
  Put32(exe, opt + 80, 0x100000);
  Put32(exe, opt + 84, 0x1000);
  Put32(exe, opt + 92, 16);
  const size_t section = opt + 0xE0;
  exe.replace(section, 5, ".text");
  Put32(exe, section + 8, codeSize);
  Put32(exe, section + 12, 0x1000);
  Put32(exe, section + 16, codeSize);
  Put32(exe, section + 20, 0x400);
  Put32(exe, section + 36, 0x60000020);

  Filler filler(Seed(name));
  for (size_t i = 0x400; i < size; ++i) exe[i] = static_cast<char>(filler.Next() >> 56);
  return exe;
}

// One A4 page with a few lines of Helvetica text, plus an unreferenced data stream that takes up the
// remaining bytes. The cross-reference offsets are computed from the final layout.
std::string MakePdf(const std::string& title, uint64_t size) {
  RequireAtLeast(title, size, 2048);
  std::string content = "BT /F1 24 Tf 72 760 Td (" + title + ") Tj ET\n"
                        "BT /F1 12 Tf 72 720 Td (Vellmora - Zunto Patch 1.3) Tj ET\n"
                        "BT /F1 12 Tf 72 700 Td (Bitte lesen Sie diese Hinweise vor dem Spielstart.) Tj ET\n";
  Filler filler(Seed(title));
  uint64_t padding = 0;
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 5 0 R >> >> "
        "/Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "",
    };
    std::string data(padding, '\0');
    for (auto& c : data) c = static_cast<char>(filler.Next() >> 56);
    objects[5] = "<< /Length " + std::to_string(padding) + " >>\nstream\n" + data + "\nendstream";
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
      offsets.push_back(pdf.size());
      pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
      char entry[32];
      std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
      pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    if (pdf.size() == size) return pdf;
    padding += size - pdf.size();  // unsigned wrap-around works as subtraction as well
  }
  throw std::runtime_error(title + ": no PDF layout of exactly " + std::to_string(size) + " bytes");
}

// Windows-1252 text with CR LF line ends, closed by a rule line that takes up the remaining bytes.
std::string MakeReleaseNotes(int level, uint64_t size) {
  RequireAtLeast("release notes", size, 64);
  const std::string version = "1." + std::to_string(level);
  const std::vector<std::string> notes = {
      "Vellmora - \xC4nderungen in Version " + version,
      "",
      "Spielablauf:",
      "- Die Spielz\xFCge der Gastmannschaft werden jetzt korrekt geladen.",
      "- Das T\xE4uschen am Au\xDF" "enweg reagiert schneller auf die Eingabe.",
      "- Die Keilformation l\xE4uft nicht mehr aus dem Spielfeld.",
      "- Beim Kreuzen bleiben die Spieler nicht mehr h\xE4ngen.",
      "Grafik:",
      "- Der OpenGL-Modus st\xFCrzt auf \xE4lteren Grafikkarten nicht mehr ab.",
      "- Die Men\xFC" "schrift wird bei hoher Aufl\xF6sung sauber dargestellt.",
      "Sonstiges:",
      "- Die Anleitung wurde \xFC" "berarbeitet und um die neuen Regeln erg\xE4nzt.",
      "- Kleinere Fehler wurden behoben.",
  };
  std::string text;
  for (size_t i = 0;; ++i) {
    std::string line = notes[i % notes.size()] + "\r\n";
    if (text.size() + line.size() + 4 > size) break;
    text += line;
  }
  const uint64_t rest = size - text.size();
  text += std::string(rest - 2, '=') + "\r\n";
  return text;
}

// "Zunto.exe" with a switch; a file too short for the full name starts it without its extension.
std::string MakeBatchFile(const std::string& name, uint64_t size) {
  const bool gl = name.find("OpenGL") != std::string::npos;
  const bool debug = name.find("Debug") != std::string::npos;
  const std::string mode = gl ? "-opengl" : "-dx";
  const std::vector<std::string> candidates = {
      "start Zunto.exe " + mode + (debug ? " -debug -log" : " -nosound -w"),
      "@Zunto.exe " + mode + (debug ? " -debug -w" : " -nosound -w"),
      "Zunto.exe " + mode + (debug ? " -debug -w" : " -w"),
      "Zunto.exe " + mode + (debug ? " -d" : ""),
      std::string("Zunto ") + (gl ? "-gl" : "-d") + (debug ? "d" : ""),
  };
  // The longest command that fits; blanks before the line end make up any difference.
  for (const std::string& command : candidates) {
    if (command.size() + 2 <= size) return command + std::string(size - 2 - command.size(), ' ') + "\r\n";
  }
  throw std::runtime_error(name + ": " + std::to_string(size) + " bytes is too small for a batch file");
}

// A UTF-8 play description with a byte order mark; a closing comment takes up the remaining bytes.
std::string MakePlaySet(const std::string& folder, const std::string& play, uint64_t size) {
  RequireAtLeast(play, size, 400);
  const bool guest = folder.find("Gast") != std::string::npos;
  std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Spielzug name=\"" + play +
                     "\" satz=\"" + folder + "\" version=\"1.3\">\r\n  <Beschreibung>Spielzug \xE2\x80\x9E" + play +
                     "\xE2\x80\x9C f\xC3\xBCr die " + (guest ? "Gastmannschaft" : "Heimmannschaft") +
                     "</Beschreibung>\r\n";
  const std::string tail = "</Spielzug>\r\n";
  const std::string commentOpen = "  <!-- ", commentClose = " -->\r\n";
  Filler filler(Seed(folder + "/" + play));
  std::string body;
  for (int step = 1;; ++step) {
    // One draw per statement: argument evaluation order must not decide the bytes.
    const int player = 1 + filler.Below(11);
    const int x = filler.Below(100), xf = filler.Below(100);
    const int y = filler.Below(64), yf = filler.Below(100);
    const int t = filler.Below(4), tf = filler.Below(100);
    const char* action = filler.Below(3) == 0 ? "pass" : (filler.Below(2) == 0 ? "lauf" : "t\xC3\xA4uschen");
    char line[160];
    std::snprintf(line, sizeof line,
                  "  <Schritt nr=\"%d\" spieler=\"%d\" x=\"%d.%02d\" y=\"%d.%02d\" zeit=\"%d.%02d\" aktion=\"%s\" />\r\n",
                  step, player, x, xf, y, yf, t, tf, action);
    if (head.size() + body.size() + std::string(line).size() + commentOpen.size() + commentClose.size() +
            tail.size() > size) {
      break;
    }
    body += line;
  }
  const uint64_t used = head.size() + body.size() + commentOpen.size() + commentClose.size() + tail.size();
  std::string comment(size - used, 'x');
  const std::string words = "Ende der Spielzugdaten ";
  for (size_t i = 0; i < comment.size(); ++i) comment[i] = words[i % words.size()];
  return head + body + commentOpen + comment + commentClose + tail;
}

std::string MakeSampleFile(const std::string& name, uint64_t size) {
  const std::string ext = Extension(name);
  const std::string stem = Stem(name);
  if (ext == "exe") return MakeExecutable(name, size);
  if (ext == "pdf") return MakePdf(stem == "Anleitung" ? "Vellmora - Anleitung" : "Gameplay-Regeln im Men\xFC", size);
  if (ext == "txt" && stem.rfind("PatchLog", 0) == 0) return MakeReleaseNotes(stem.back() - '0', size);
  if (ext == "bat") return MakeBatchFile(stem, size);
  if (ext == "xml") {
    std::string folder = name.substr(0, name.find_last_of('/'));
    folder = folder.substr(folder.find_last_of('/') + 1);
    return MakePlaySet(folder, stem, size);
  }
  throw std::runtime_error(name + ": no sample maker for this kind of file");
}

}  // namespace zunto::tools
