#include "tests/resources/ManifestReader.h"

#include <fstream>
#include <sstream>

Manifest ReadManifest(const std::string& path, std::string& error) {
  Manifest manifest;
  std::ifstream in(path);
  if (!in) {
    error = "cannot open " + path;
    return {};
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream fields(line);
    std::string word;
    if (!(fields >> word) || word[0] == '#') continue;
    std::string rest;
    if (word == "string") {
      ManifestString s;
      fields >> s.id >> s.check;
      std::getline(fields >> std::ws, s.role);
      if (!fields && s.role.empty()) {
        error = path + ":" + std::to_string(number) + ": bad string line";
        return {};
      }
      manifest.strings.push_back(s);
    } else if (word == "dialog") {
      ManifestDialog d;
      fields >> d.id >> d.kind;
      std::getline(fields >> std::ws, d.role);
      manifest.dialogs[d.id] = d;
    } else if (word == "control") {
      unsigned dialog = 0;
      ManifestControl c;
      fields >> dialog >> c.id >> c.controlClass;
      std::getline(fields >> std::ws, c.role);
      auto it = manifest.dialogs.find(dialog);
      if (it == manifest.dialogs.end()) {
        error = path + ":" + std::to_string(number) + ": control of an unlisted dialog";
        return {};
      }
      it->second.controls.push_back(c);
    } else if (word == "language") {
      unsigned id = 0;
      fields >> id;
      manifest.languages.push_back(id);
    } else if (word == "icon") {
      unsigned id = 0;
      fields >> id;
      manifest.icons.push_back(id);
    } else {
      error = path + ":" + std::to_string(number) + ": unknown line";
      return {};
    }
  }
  return manifest;
}
