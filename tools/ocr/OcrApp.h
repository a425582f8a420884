// The steps of marlin3-ocr, apart from main so that tests can reach them.
#pragma once

#include <string>

namespace ocrapp {

// Tesseract's name for a Windows language identifier of the program's 20 languages ("" when none).
std::string TesseractName(unsigned langId);
// The languages to read with: the user's language and English, those of them that are installed
// ("deu+eng"); "eng" when neither is (the OCR then names the package to install).
std::string DefaultLanguages(unsigned langId, const std::string& installed);
// Creates a new, empty file for the output in folder (ending with "/"), named after the input's stem:
// stem.pdf, else stem-2.pdf, stem-3.pdf ...; never an existing name (O_EXCL). "" when none could be made.
std::string ReserveOutput(const std::string& folder, const std::string& input);

}  // namespace ocrapp
