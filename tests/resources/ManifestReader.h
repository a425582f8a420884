// Reads resources/manifest.txt, the one list of the string numbers, dialog templates, controls and
// icons the program needs, so the tests check the built library against the same list the generator
// checks the source against.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ManifestString {
  unsigned id = 0;
  std::string check;  // text, p1, p2, ext, key, dest, tip, title
  std::string role;
};

struct ManifestControl {
  int id = 0;
  std::string controlClass;  // button, checkbox, radio, edit, static, listbox, combo, slider, treeview, any
  std::string role;
};

struct ManifestDialog {
  unsigned id = 0;
  std::string kind;  // dialog, property_page
  std::string role;
  std::vector<ManifestControl> controls;
};

struct Manifest {
  std::vector<ManifestString> strings;
  std::map<unsigned, ManifestDialog> dialogs;
  std::vector<unsigned> icons;
  std::vector<unsigned> languages;  // shipped complete, besides English
};

// Empty result and a message in error when the file cannot be read or a line is not understood.
Manifest ReadManifest(const std::string& path, std::string& error);
