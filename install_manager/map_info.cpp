// Map information: what the map service says about the map this installer was
// handed out for, the start-up values the page shows it with, and its shortcut.
#include <curl/curl.h>

#include <nlohmann/json.hpp>

#include "common/strings.h"
#include "flavour/flavour.h"
#include "install_manager/command_line.h"
#include "install_manager/install_man.h"
#include "setup/shortcuts.h"

namespace kx {

namespace {

using nlohmann::json;

// Every byte except ASCII letters, digits and "-._~" becomes %XX.
std::string urlEscaped(const std::string& text) {
  char* escaped = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size()));
  if (!escaped) return {};
  std::string result(escaped);
  curl_free(escaped);
  return result;
}

std::wstring textAt(const json& document, const char* pointer) {
  return fromUtf8(document.at(json::json_pointer(pointer)).get<std::string>());
}

// A flag that is missing or not a boolean stays false.
bool flagAt(const json& document, const char* pointer) {
  const json::json_pointer at(pointer);
  return document.contains(at) && document[at].is_boolean() && document[at].get<bool>();
}

// The map fields one answer carries; `name` empty means the answer names no map.
struct MapAnswer {
  std::wstring id, name, image, icon;
  bool kestrixMap = false, independent = false;
};

// Answers keyed by the map's file name carry no status.
MapAnswer readFileNameShape(const json& document) {
  MapAnswer answer;
  answer.id = textAt(document, "/data/gamePlayId");
  answer.name = textAt(document, "/data/downloadName");
  answer.icon = textAt(document, "/data/gameIcon");
  answer.image = textAt(document, "/data/logo");
  return answer;
}

}  // namespace

void InstallMan::fetchMapInfo() {
  getConfigUrl(true, false);  // parses the command line and sets flavourKey on first use
  if (!isQv && mapDisplayName.empty() && mapId.empty()) return;

  const auto commandLine = storedCommandLine();
  const std::string base =
      commandLine && commandLine->count("api") ? commandLineValue("api") : getEndpointRow(flavourKey).mapInfoUrl;
  const bool keyedByName = !mapDisplayName.empty();
  std::wstring key = mapId.empty() || mapId == L"kestrix" ? std::wstring(L"0") : mapId;
  if (keyedByName) key = mapDisplayName;

  const std::string body = httpGet(base + urlEscaped(toUtf8(key)), {}, false);
  MapAnswer answer;
  if (!body.empty()) {
    try {
      const json document = json::parse(body);
      if (keyedByName) {
        answer = readFileNameShape(document);
      } else if (document.at("/status"_json_pointer).get<int>() == 200) {
        if (const auto& version = document.at("/data"_json_pointer).value("gameEngineVersion", json());
            version.is_string())
          gameEngineVersion = fromUtf8(version.get<std::string>());
        answer.id = std::to_wstring(document.at("/data/mapId"_json_pointer).get<std::int64_t>());
        answer.name = textAt(document, "/data/mapName");
        answer.icon = textAt(document, "/data/logo");
        answer.image = textAt(document, "/data/imageUrl");
        answer.kestrixMap = flagAt(document, "/data/kestrixMap");
        answer.independent = flagAt(document, "/data/independent");
      }
    } catch (const json::exception&) {
      answer = MapAnswer();
    }
  }
  if (!answer.name.empty()) {
    mapDisplayName = answer.name;
    mapImageUrl = answer.image;
    mapIconUrl = answer.icon;
    mapId = answer.id;
    isKestrixMap = answer.kestrixMap;
    isIndependent = answer.independent;
  } else {
    mapId.clear();
    mapDisplayName.clear();
  }

  // In flavour qv the editor package is installed only when the page selects it.
  if (isQv)
    for (PackageEntry& entry : entries)
      if (entry.selected && !entry.isPlatformInstaller) entry.selected = false;
}

std::wstring InstallMan::pageLanguage() const { return flavourKey == "edu" ? L"zh" : L"en"; }

std::optional<BackgroundImage> InstallMan::backgroundImage() const {
  if (mapImageUrl.empty()) return std::nullopt;
  return BackgroundImage{mapImageUrl, mapDisplayName, isKestrixMap, isIndependent, mapId};
}

void InstallMan::CreateCustomShortcut(const std::wstring& folder) {
  CreateMapShortcut(folder, mapId, mapDisplayName, mapIconUrl, [this] { return buildLaunchArgs(); });
}

}  // namespace kx
