#include "app/status_texts.h"

#include "app/game_folder.h"

namespace zunto {
namespace {

// Latin-1 texts from UTF-16 literals, so that the source file's encoding cannot change them.
Text T(const char16_t* units) { return Text(units); }

// `path` and each shorter form of it without its leading folders, longest first.
std::vector<Text> Shortenings(const Text& path) {
  std::vector<Text> forms{path};
  for (int slash = path.Find("/"); slash >= 0; slash = path.Find("/", slash + 1)) forms.push_back(path.From(slash + 1));
  return forms;
}

// The first form of the line, over the ever shorter forms of `path`, that fits; the shortest if none.
Text Fitted(const Text& path, const std::function<Text(const Text&)>& line, const LineWidth& width, int maxWidth) {
  Text result;
  for (const Text& form : Shortenings(path)) {
    result = line(form);
    if (width(result) <= maxWidth) break;
  }
  return result;
}

// The folder of a file path as PlayerPath gives it; a path that ends with "/" is a folder itself.
Text FolderPart(const Text& path) {
  const Text player = PlayerPath(path);
  if (path.EndsWith("/")) return player;
  const int slash = player.FindLast("/");
  return slash < 0 ? Text() : player.Left(slash);
}

Text CauseLine(const PatchFailure& failure, const LineWidth& width, int maxWidth) {
  const Text file = PlayerPath(failure.file);
  const Text folder = FolderPart(failure.file);
  auto fitted = [&](const Text& path, Text (*line)(const Text&)) { return Fitted(path, line, width, maxWidth); };
  switch (failure.cause) {
    case FailureCause::kFileReadOnlyOrInUse:
      return fitted(file, [](const Text& f) { return f + T(u" ist schreibgeschützt oder wird gerade benutzt."); });
    case FailureCause::kFolderReadOnly:
      if (folder.IsEmpty()) return T(u"Der Spielordner ist schreibgeschützt.");
      return fitted(folder, [](const Text& f) { return T(u"Der Ordner ") + f + T(u" ist schreibgeschützt."); });
    case FailureCause::kFolderMissing:
      if (folder.IsEmpty()) return T(u"Der Spielordner fehlt.");
      return fitted(folder, [](const Text& f) { return T(u"Der Ordner ") + f + T(u" fehlt."); });
    case FailureCause::kFolderInTheWay:
      return fitted(file, [](const Text& f) { return T(u"Wo ") + f + T(u" hingehört, steht ein Ordner."); });
    case FailureCause::kDiskFull:
      return T(u"Auf dem Laufwerk ist nicht genug Platz.");
    case FailureCause::kPayloadDamaged:
      return T(u"Die Patch-Datei ist beschädigt. Bitte lade sie erneut herunter.");
    case FailureCause::kEarlierRunNotUndone:
      return T(u"Ein abgebrochener Patch-Lauf ließ sich nicht rückgängig machen.");
    case FailureCause::kEarlierRunNotFinished:
      return T(u"Ein früherer Patch-Lauf ließ sich nicht abschließen.");
    case FailureCause::kAnotherPatcherRunning:
      return T(u"Ein anderer Patcher läuft gerade im Spielordner.");
    case FailureCause::kFolderNotLockable:
      return T(u"Der Spielordner lässt sich nicht für den Patch sperren.");
    case FailureCause::kDiskReadOnly:
      if (folder.IsEmpty()) return T(u"Der Spielordner liegt auf einem schreibgeschützten Laufwerk.");
      return fitted(folder, [](const Text& f) {
        return T(u"Der Ordner ") + f + T(u" liegt auf einem schreibgeschützten Laufwerk.");
      });
    case FailureCause::kDiskError:
      if (file.IsEmpty()) return T(u"Das Laufwerk meldet einen Fehler beim Schreiben.");
      return fitted(file,
                    [](const Text& f) { return T(u"Das Laufwerk meldet einen Fehler beim Schreiben von ") + f + "."; });
    case FailureCause::kNotAFile:
      return fitted(
          file, [](const Text& f) { return T(u"Wo ") + f + T(u" hingehört, steht etwas anderes als eine Datei."); });
    case FailureCause::kLinkUnresolvable:
      return fitted(file, [](const Text& f) { return T(u"Die Verknüpfung ") + f + T(u" führt zu keiner Datei."); });
    case FailureCause::kNone:
    case FailureCause::kOther:
      break;
  }
  if (file.IsEmpty()) return T(u"Im Spielordner konnte nicht geschrieben werden.");
  return fitted(file, [](const Text& f) { return f + T(u" konnte nicht geschrieben werden."); });
}

Text FolderLine(const PatchFailure& failure, const LineWidth& width, int maxWidth) {
  const Text file = PlayerPath(failure.file);
  switch (failure.cause) {
    case FailureCause::kEarlierRunNotUndone:
      return Fitted(file, [](const Text& f) { return f + T(u" konnte nicht wiederhergestellt werden."); }, width, maxWidth);
    case FailureCause::kEarlierRunNotFinished:
      if (file.IsEmpty()) return T(u"Reste davon im Spielordner ließen sich nicht löschen.");
      return Fitted(file, [](const Text& f) { return T(u"Reste davon bei ") + f + T(u" ließen sich nicht löschen."); }, width,
                    maxWidth);
    default:
      break;
  }
  if (!failure.folderUnchanged) return T(u"Nicht alle Dateien konnten wiederhergestellt werden.");
  switch (failure.earlierRun) {
    case EarlierRun::kUndone: return T(u"Nur ein abgebrochener früherer Lauf wurde rückgängig gemacht.");
    case EarlierRun::kFinished: return T(u"Nur ein abgebrochener früherer Lauf wurde zu Ende geführt.");
    case EarlierRun::kNone: break;
  }
  return T(u"Es wurden keine Dateien verändert.");
}

}  // namespace

Text VersionLabel() { return Text("v ") + PatcherVersion(); }
Text DoneLine() { return T(u"Fertig! Drücke eine Taste zum Beenden."); }
Text WrongFolderLine() { return T(u"Falsches Verzeichnis! Kopiere diesen Patch in deinen Vellmora Ordner."); }
Text ExitHint() { return T(u"Drücke eine Taste zum Beenden."); }
Text FailureHeadline() { return T(u"Fehler! Der Patch wurde nicht installiert."); }

int EstimatedLineWidth(const Text& line) { return 8 * line.Length(); }

std::vector<Text> FailureLines(const PatchFailure& failure, const LineWidth& width, int maxWidth) {
  return {CauseLine(failure, width, maxWidth), FolderLine(failure, width, maxWidth)};
}

Text PlayerPath(const Text& path) {
  Text p = path.Replace("\\", "/");
  while (p.StartsWith("./")) p = p.From(2);
  if (p == ".") return Text();
  const int slash = p.FindLast("/");
  const Text name = p.From(slash + 1);
  const int mark = name.Find(".zpatch-");
  if (name.StartsWith(".") && mark >= 0) {
    const Text kept = name.Slice(1, mark);
    const Text folder = slash < 0 ? Text() : p.Left(slash);
    if (kept.IsEmpty()) return folder;
    return folder.IsEmpty() ? kept : folder + "/" + kept;
  }
  return p.EndsWith("/") ? p.Left(p.Length() - 1) : p;
}

}  // namespace zunto
