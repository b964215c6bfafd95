// The loader registry: trial order, the seek back before each loader, and what counts as a refusal.
// Each test registers its own loaders, so it runs in a child process to leave the registry of the
// other tests alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_module.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {
namespace {

// A seekable stream over a string that counts its closes; Pos can be made to report "not seekable".
class ProbeStream : public TStream {
 public:
  ProbeStream(std::string data, bool seekable, int* closes) : data_(std::move(data)), seekable_(seekable), closes_(closes) {}
  int64_t Pos() override { return seekable_ ? pos_ : -1; }
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  int64_t Seek(int64_t pos) override {
    pos_ = pos < 0 ? 0 : (pos > Size() ? Size() : pos);
    return pos_;
  }
  int Read(void* buf, int count) override {
    int n = static_cast<int>(std::min<int64_t>(count, Size() - pos_));
    std::memcpy(buf, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int Close() override {
    ++*closes_;
    return 0;
  }

 private:
  std::string data_;
  bool seekable_;
  int* closes_;
  int64_t pos_ = 0;
};

int probeCloses = 0;
bool probeSeekable = true;

// Answers "probe::<data>" with a ProbeStream over <data>.
class ProbeFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Url&, const Text& protocol, const Text& path, int, int) override {
    if (protocol != Text("probe")) return nullptr;
    return MakeRef<ProbeStream>(path.ToLatin1(), probeSeekable, &probeCloses);
  }
};

enum class Act { Decline, ThrowStream, ThrowText, ThrowReadPastEnd, Accept };

struct Visit {
  char name;
  int64_t pos;
};
std::vector<Visit> visits;

class ProbeLoader : public TPixmapLoader {
 public:
  ProbeLoader(char name, Act act) : name_(name), act_(act) {}
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override {
    visits.push_back({name_, stream->Pos()});
    uint8_t scratch[3];
    stream->Read(scratch, 3);  // loaders may consume input before deciding
    switch (act_) {
      case Act::Decline: return nullptr;
      case Act::ThrowStream: throw TStreamWriteException();
      case Act::ThrowText: throw Text("boom");
      case Act::ThrowReadPastEnd: {
        uint8_t big[4096];
        stream->ReadBytes(big, sizeof big);
        return nullptr;
      }
      case Act::Accept: return AllocatePixmap(1, 1, FormatGrey8, 4);
    }
    return nullptr;
  }

 private:
  char name_;
  Act act_;
};

void InstallProbes() {
  InitPixmapModule();
  TStreamFactory::Register(MakeRef<ProbeFactory>());
}

std::string Names() {
  std::string s;
  for (const Visit& v : visits) s += v.name;
  return s;
}

TEST(PixmapRegistry, LastRegisteredIsTriedFirstFromTheSameStart) {
  EXPECT_EXIT(
      {
        InstallProbes();
        TPixmapLoader::Register(MakeRef<ProbeLoader>('D', Act::Accept));
        TPixmapLoader::Register(MakeRef<ProbeLoader>('C', Act::ThrowReadPastEnd));
        TPixmapLoader::Register(MakeRef<ProbeLoader>('B', Act::ThrowStream));
        TPixmapLoader::Register(MakeRef<ProbeLoader>('A', Act::Decline));
        Ref<TStream> s = StreamFromUrl(Text("probe::0123456789"), 1, 0);
        s->Seek(4);
        Ref<TPixmap> p = PixmapFromUrl(s);
        bool ok = p && p->width == 1 && Names() == "ABCD";
        for (const Visit& v : visits) ok = ok && v.pos == 4;
        // The caller's stream stays open and where the winning loader left it.
        ok = ok && probeCloses == 0 && s->Pos() == 7;
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Walks over a source the registry opens itself, which it must close however the walk ends.
TEST(PixmapRegistry, WalksItsOwnStreamAndClosesIt) {
  struct Loader {
    char name;
    Act act;
  };
  struct Case {
    const char* what;
    std::vector<Loader> loaders;  // in registration order: the last is tried first
    bool seekable;
    bool accepted;
    const char* tried;
  } cases[] = {
      {"stops at the first accept", {{'C', Act::Accept}, {'B', Act::Accept}, {'A', Act::Decline}}, true, true, "AB"},
      {"nothing accepts", {{'B', Act::ThrowStream}, {'A', Act::Decline}}, true, false, "AB"},
      {"unseekable source asks no loader", {{'A', Act::Accept}}, false, false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          InstallProbes();
          probeSeekable = c.seekable;
          for (const Loader& l : c.loaders) TPixmapLoader::Register(MakeRef<ProbeLoader>(l.name, l.act));
          Ref<TPixmap> p = PixmapFromUrl(Text("probe::abcdef"));
          std::exit(static_cast<bool>(p) == c.accepted && Names() == c.tried && probeCloses == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << c.what;
  }
}

TEST(PixmapRegistry, SourceThatCannotBeOpenedGivesNull) {
  EXPECT_EXIT(
      {
        InstallProbes();
        TPixmapLoader::Register(MakeRef<ProbeLoader>('A', Act::Accept));
        Ref<TPixmap> p = PixmapFromUrl(Text("/nonexistent/dir/picture.bmp"));
        Ref<TPixmap> q = PixmapFromUrl(Url());
        std::exit(!p && !q && visits.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(PixmapRegistry, OtherExceptionsPropagateAndTheStreamIsStillClosed) {
  EXPECT_EXIT(
      {
        InstallProbes();
        TPixmapLoader::Register(MakeRef<ProbeLoader>('B', Act::Accept));
        TPixmapLoader::Register(MakeRef<ProbeLoader>('A', Act::ThrowText));
        bool thrown = false;
        try {
          PixmapFromUrl(Text("probe::abcdef"));
        } catch (const Text& t) {
          thrown = t == Text("boom");
        }
        std::exit(thrown && Names() == "A" && probeCloses == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kiln
