// The user's language as a Windows language identifier, from the POSIX locale variables
// (see Resource.h). Identifiers are MAKELANGID(primary, sublanguage) values of the Windows SDK.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/resource/Resource.h"

namespace {

constexpr WORD kEnglish = 1033;

struct Territory {
  const char* name;  // "de_AT": language and territory
  WORD id;
};

// Language and territory pairs whose identifier differs from the language's default below.
constexpr Territory kTerritories[] = {
    {"ar_EG", 3073},  {"de_AT", 3079}, {"de_CH", 2055},  {"de_LU", 4103},  {"en_AU", 3081}, {"en_CA", 4105},
    {"en_GB", 2057},  {"en_IE", 6153}, {"en_IN", 16393}, {"en_NZ", 5129},  {"en_ZA", 7177}, {"es_AR", 11274},
    {"es_CL", 13322}, {"es_CO", 9226}, {"es_MX", 2058},  {"es_US", 21514}, {"fr_BE", 2060}, {"fr_CA", 3084},
    {"fr_CH", 4108},  {"fr_LU", 5132}, {"it_CH", 2064},  {"nl_BE", 2067},  {"pt_PT", 2070}, {"sv_FI", 2077},
    {"zh_HK", 3076},  {"zh_MO", 5124}, {"zh_SG", 4100},  {"zh_TW", 1028},
};

struct Language {
  const char* name;  // ISO 639-1 code
  WORD id;           // the identifier of its main variant
};

constexpr Language kLanguages[] = {
    {"ar", 1025}, {"bg", 1026}, {"ca", 1027}, {"cs", 1029}, {"da", 1030}, {"de", 1031}, {"el", 1032},
    {"en", 1033}, {"es", 3082}, {"et", 1061}, {"eu", 1069}, {"fi", 1035}, {"fr", 1036}, {"he", 1037},
    {"hr", 1050}, {"hu", 1038}, {"id", 1057}, {"is", 1039}, {"it", 1040}, {"ja", 1041}, {"ko", 1042},
    {"lt", 1063}, {"lv", 1062}, {"nb", 1044}, {"nl", 1043}, {"nn", 2068}, {"no", 1044}, {"pl", 1045},
    {"pt", 1046}, {"ro", 1048}, {"ru", 1049}, {"sk", 1051}, {"sl", 1060}, {"sr", 2074}, {"sv", 1053},
    {"th", 1054}, {"tr", 1055}, {"uk", 1058}, {"vi", 1066}, {"zh", 2052},
};

}  // namespace

namespace platform::resource {

WORD LanguageFromLocale(const char* locale) {
  if (locale == nullptr) return kEnglish;
  // "ll_TT.codeset@modifier": keep "ll" and "ll_TT", in lower and upper case as written in the tables.
  std::string language;
  std::string territory;
  const char* p = locale;
  while (*p != '\0' && std::isalpha(static_cast<unsigned char>(*p)) && language.size() < 8) {
    language += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    ++p;
  }
  if (*p == '_' || *p == '-') {
    ++p;
    while (*p != '\0' && std::isalpha(static_cast<unsigned char>(*p)) && territory.size() < 8) {
      territory += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
      ++p;
    }
  }
  if (language.empty()) return kEnglish;
  if (!territory.empty()) {
    const std::string pair = language + "_" + territory;
    for (const Territory& t : kTerritories) {
      if (pair == t.name) return t.id;
    }
  }
  for (const Language& l : kLanguages) {
    if (language == l.name) return l.id;
  }
  return kEnglish;  // also "C" and "POSIX"
}

WORD UserLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return LanguageFromLocale(value);
  }
  return kEnglish;
}

}  // namespace platform::resource
