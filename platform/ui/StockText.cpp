#include "platform/ui/StockText.h"

#include <string_view>

#include "platform/resource/Resource.h"

namespace {

// One row a language: Back, Next, Finish, Cancel, Help, OK, Yes, No, Abort, Retry, Ignore (the order of
// Stock), split at "|". Chinese, Korean and Thai mark a Latin access key after the text, as their desktops
// do.
struct Row {
  WORD language;
  const char* texts;
};

// clang-format off
constexpr Row kRows[] = {
    {1033, "< &Back|&Next >|Finish|Cancel|Help|OK|&Yes|&No|&Abort|&Retry|&Ignore"},
    {1028, "< 上一步(&B)|下一步(&N) >|完成|取消|說明|確定|是(&Y)|否(&N)|中止(&A)|重試(&R)|略過(&I)"},
    {1029, "< &Zpět|&Další >|Dokončit|Storno|Nápověda|OK|&Ano|&Ne|&Přerušit|&Opakovat|&Ignorovat"},
    {1030, "< &Tilbage|&Næste >|Udfør|Annuller|Hjælp|OK|&Ja|&Nej|&Afbryd|&Prøv igen|&Ignorer"},
    {1031, "< &Zurück|&Weiter >|Fertig stellen|Abbrechen|Hilfe|OK|&Ja|&Nein|&Abbrechen|&Wiederholen|&Ignorieren"},
    {1035, "< &Edellinen|&Seuraava >|Valmis|Peruuta|Ohje|OK|&Kyllä|&Ei|&Keskeytä|&Yritä uudelleen|&Ohita"},
    {1036, "< &Précédent|&Suivant >|Terminer|Annuler|Aide|OK|&Oui|&Non|&Abandonner|&Recommencer|&Ignorer"},
    {1038, "< &Vissza|&Tovább >|Befejezés|Mégse|Súgó|OK|&Igen|&Nem|&Megszakítás|Ú&jra|&Kihagyás"},
    {1040, "< &Indietro|&Avanti >|Fine|Annulla|Guida|OK|&Sì|&No|&Interrompi|&Riprova|I&gnora"},
    {1042, "< 뒤로(&B)|다음(&N) >|마침|취소|도움말|확인|예(&Y)|아니요(&N)|중단(&A)|다시 시도(&R)|무시(&I)"},
    {1043, "< Vo&rige|&Volgende >|Voltooien|Annuleren|Help|OK|&Ja|&Nee|&Afbreken|&Opnieuw|&Negeren"},
    {1044, "< &Tilbake|&Neste >|Fullfør|Avbryt|Hjelp|OK|&Ja|&Nei|&Avbryt|&Prøv igjen|&Ignorer"},
    {1045, "< &Wstecz|&Dalej >|Zakończ|Anuluj|Pomoc|OK|&Tak|&Nie|&Przerwij|&Ponów próbę|&Ignoruj"},
    {1046, "< &Voltar|&Avançar >|Concluir|Cancelar|Ajuda|OK|&Sim|&Não|&Anular|&Repetir|&Ignorar"},
    {1049, "< &Назад|&Далее >|Готово|Отмена|Справка|ОК|&Да|&Нет|&Прервать|&Повторить|&Пропустить"},
    {1053, "< &Bakåt|&Nästa >|Slutför|Avbryt|Hjälp|OK|&Ja|&Nej|&Avbryt|&Försök igen|&Ignorera"},
    {1054, "< ย้อนกลับ(&B)|ถัดไป(&N) >|เสร็จสิ้น|ยกเลิก|วิธีใช้|ตกลง|ใช่(&Y)|ไม่ใช่(&N)|หยุด(&A)|ลองใหม่(&R)|ข้าม(&I)"},
    {1055, "< &Geri|İ&leri >|Son|İptal|Yardım|Tamam|&Evet|&Hayır|&Durdur|&Yeniden Dene|&Yoksay"},
    {2052, "< 上一步(&B)|下一步(&N) >|完成|取消|帮助|确定|是(&Y)|否(&N)|中止(&A)|重试(&R)|忽略(&I)"},
    {3082, "< &Atrás|&Siguiente >|Finalizar|Cancelar|Ayuda|Aceptar|&Sí|&No|&Anular|&Reintentar|&Omitir"},
};
// clang-format on

constexpr bool EveryRowHasElevenTexts() {
  for (const Row& row : kRows) {
    if (std::string_view(row.texts).find("||") != std::string_view::npos) return false;
    int bars = 0;
    for (const char* c = row.texts; *c != '\0'; ++c) bars += *c == '|' ? 1 : 0;
    if (bars != 10) return false;
  }
  return true;
}
static_assert(EveryRowHasElevenTexts(), "a row of kRows has a text too many or too few");

// The which-th text of a row.
std::string Field(const char* texts, int which) {
  std::string_view rest(texts);
  for (int i = 0; i < which; ++i) rest.remove_prefix(rest.find('|') + 1);
  return std::string(rest.substr(0, rest.find('|')));
}

}  // namespace

namespace platform::ui {

std::string StockText(Stock which, WORD language) {
  const Row* best = &kRows[0];
  int bestMatch = 1;
  for (const Row& row : kRows) {
    const int match = platform::resource::LanguageMatch(row.language, language);
    if (match > bestMatch) {
      best = &row;
      bestMatch = match;
    }
  }
  return Field(best->texts, static_cast<int>(which));
}

std::string StockText(Stock which) {
  return StockText(which, platform::resource::UserLanguage());
}

std::vector<WORD> StockLanguages() {
  std::vector<WORD> languages;
  for (const Row& row : kRows) languages.push_back(row.language);
  return languages;
}

}  // namespace platform::ui
