#include "reference_finder.h"

#include <string_view>

#include "dependency_tracker.h"
#include "packaged_names.h"
#include "path_strings.h"
#include "relative_path.h"
#include "stream_strings.h"

namespace {

bool Holds(const ZpHashTable& set, const std::string& key) {
  uint64_t unused;
  return set.Find(key.c_str(), uint32_t(key.size() + 1), &unused);
}

template <typename Visit>
void ForEachKey(const ZpHashTable& table, Visit visit) {
  ZpHashTable::Iterator it = {&table, 0, nullptr, nullptr};
  for (it.current = table.Next(&it.bucket, &it.next); it.current;
       it.current = table.Next(&it.bucket, &it.next))
    visit(std::string(static_cast<const char*>(it.Key()), it.KeyLength() - 1));
}

std::string_view LastStep(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
}

const char* const kStreamDirectoryPrefixes[] = {"${RIBDIR}", "${VRXDIR}"};
constexpr size_t kPrefixLength = 9;

}  // namespace

ReferenceFinder::ReferenceFinder(DependencyTracker& tracker, const ZpHashTable& changedPaths,
                                 const std::string& streamName)
    : tracker_(tracker),
      changedPaths_(changedPaths),
      streamDirectory_(ZpDirName(streamName)),
      lastSteps_(32, 0.75f) {}

bool ReferenceFinder::MayName(const std::string& raw) {
  if (!lastStepsIndexed_) {
    lastStepsIndexed_ = true;
    auto enter = [this](const std::string& name) {
      for (const std::string& form : {name, LexicallyNormalPath(name)}) {
        std::string_view step = LastStep(form);
        lastSteps_.Insert(step.data(), uint32_t(step.size()), 0);
        // A shader is recorded with ".oso", which a string may leave off.
        if (step.size() > 4 && step.compare(step.size() - 4, 4, ".oso") == 0)
          lastSteps_.Insert(step.data(), uint32_t(step.size() - 4), 0);
      }
    };
    ForEachKey(tracker_.resolvedNames, enter);
    ForEachKey(changedPaths_, enter);
    ForEachKey(tracker_.udimPatterns, enter);
    ForEachPackagedPattern(enter);
  }
  if (raw.find_first_of("\\$") != std::string::npos) return true;
  std::string_view step = LastStep(raw);
  if (step.empty() || step == "." || step == "..") return true;
  uint64_t unused;
  return lastSteps_.Find(step.data(), uint32_t(step.size()), &unused);
}

bool ReferenceFinder::Names(const std::string& key) const {
  return Holds(changedPaths_, tracker_.ResolvedShaderPath(key)) ||
         !PackagedPattern(key).empty();
}

std::string ReferenceFinder::AsTrackerSpellsIt(const std::string& text) const {
  std::string spelled = text;
  for (const char* prefix : kStreamDirectoryPrefixes) {
    if (spelled.compare(0, kPrefixLength, prefix) == 0) {
      spelled.replace(0, kPrefixLength, streamDirectory_);
      break;
    }
  }
  tracker_.PathVariables().Expand(spelled, true);
  return spelled;
}

const std::unordered_map<std::string, std::string>& ReferenceFinder::NormalSpellings() {
  if (indexed_) return normalSpellings_;
  indexed_ = true;
  auto enter = [this](const std::string& key) {
    std::string normal = LexicallyNormalPath(key);
    if (normal != key) normalSpellings_.emplace(normal, key);
  };
  ForEachKey(tracker_.resolvedNames, enter);
  ForEachKey(changedPaths_, enter);
  ForEachKey(tracker_.udimPatterns, enter);
  return normalSpellings_;
}

std::string ReferenceFinder::Find(const std::string& raw, bool fileName) {
  if (!MayName(raw)) return std::string();
  if (Names(raw)) return raw;
  std::string text = raw.find('\\') == std::string::npos ? raw : DecodedString(raw);
  if (text != raw && Names(text)) return text;
  if (!fileName || text.empty()) return std::string();
  std::string spelled = AsTrackerSpellsIt(text);
  if (Names(spelled)) return spelled;
  std::string normal = LexicallyNormalPath(spelled);
  // A shader is recorded with ".oso", which the stream may leave off.
  for (const std::string& form : {normal, normal + ".oso"}) {
    auto found = NormalSpellings().find(form);
    if (found != NormalSpellings().end() && Names(found->second)) return found->second;
  }
  return Names(normal) ? normal : std::string();
}
