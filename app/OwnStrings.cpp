#include "app/OwnStrings.h"

#include "platform/folders/Folders.h"

namespace {

struct Variant {
  WORD wLanguage;
  const char* pszText;
};

constexpr WORD kEnglish = 1033;

// UTF-8 texts, one per language identifier the product ships.
constexpr Variant kNoResources[] = {
    {1028, "錯誤：找不到英文語言資源 - 請重新安裝 nx Printer Software。"},
    {1029,
     "Chyba: Nebyly nalezeny prostředky anglického jazyka - Přeinstalujte software nx Printer Software."},
    {1030, "Fejl: Engelske sprogressourcer blev ikke fundet - Geninstaller nx Printer Software."},
    {1031,
     "Fehler: Englische Sprachressourcen nicht gefunden - Installieren Sie die nx Printer Software neu."},
    {1033, "Error: English language resources not found - Reinstall nx Printer Software."},
    {1035, "Virhe: Englanninkielisiä kieliresursseja ei löytynyt - Asenna nx Printer Software uudelleen."},
    {1036,
     "Erreur : ressources en langue anglaise introuvables - Réinstallez le logiciel nx Printer Software."},
    {1038,
     "Hiba: Az angol nyelvi erőforrások nem találhatók - Telepítse újra az nx Printer Software szoftvert."},
    {1040,
     "Errore: risorse della lingua inglese non trovate - Reinstallare il software nx Printer Software."},
    {1042, "오류: 영어 언어 리소스를 찾을 수 없습니다 - nx Printer Software를 다시 설치하십시오."},
    {1043, "Fout: Engelstalige bronnen niet gevonden - Installeer de nx Printer Software opnieuw."},
    {1044, "Feil: Fant ikke engelske språkressurser - Installer nx Printer Software på nytt."},
    {1045,
     "Błąd: Nie znaleziono zasobów języka angielskiego - Zainstaluj ponownie oprogramowanie nx Printer "
     "Software."},
    {1046, "Erro: Recursos do idioma inglês não encontrados - Reinstale o software nx Printer Software."},
    {1049, "Ошибка: не найдены ресурсы английского языка - переустановите программу nx Printer Software."},
    {1053, "Fel: Engelska språkresurser hittades inte - Installera om nx Printer Software."},
    {1054, "ข้อผิดพลาด: ไม่พบทรัพยากรภาษาอังกฤษ - โปรดติดตั้ง nx Printer Software ใหม่"},
    {1055, "Hata: İngilizce dil kaynakları bulunamadı - nx Printer Software yazılımını yeniden yükleyin."},
    {2052, "错误：找不到英文语言资源 - 请重新安装 nx Printer Software。"},
    {3082,
     "Error: No se encontraron los recursos del idioma inglés - Vuelva a instalar el software nx Printer "
     "Software."},
};

// The low 10 bits of a language identifier are its primary language.
constexpr WORD PrimaryLanguage(WORD language) {
  return static_cast<WORD>(language & 0x3FF);
}

}  // namespace

bool OwnStrings::Load(UINT id, std::string& text) {
  return Load(id, GetUserDefaultLangID(), text);
}

bool OwnStrings::Load(UINT id, WORD language, std::string& text) {
  text.clear();
  if (id != kIdsNoResources) return false;
  const Variant* primaryMatch = nullptr;
  const Variant* english = nullptr;
  for (const Variant& variant : kNoResources) {
    if (variant.wLanguage == language) {
      text = variant.pszText;
      return true;
    }
    if (primaryMatch == nullptr && PrimaryLanguage(variant.wLanguage) == PrimaryLanguage(language))
      primaryMatch = &variant;
    if (variant.wLanguage == kEnglish) english = &variant;
  }
  text = (primaryMatch != nullptr ? primaryMatch : english)->pszText;
  return true;
}
