// The C interface of the OCR library (libpxocr.so, "pxocr.dll"), loaded through the module layer only
// when a page is to be made searchable: Tesseract and Leptonica are mapped by no process that does
// not OCR. Results: 1 success, negative PxError; no exception leaves an entry point.
//
// Coordinates are pixels of the page as handed in (the image as it is saved), y down. The engine
// finds the text's orientation and skew, recognises a corrected copy and maps every word back.
#pragma once

#include <stddef.h>

#include "pxclass/PxPage.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PxOcrWord {
  const char* text;                  // UTF-8, never empty
  int32_t left, top, right, bottom;  // the word's box (axis-aligned, holds the turned word)
  double baseX, baseY;               // where the word starts on its baseline
  double endX, endY;                 // where it ends on its baseline (the direction of the text)
  double size;                       // text height across the baseline (ascender to descender)
} PxOcrWord;

typedef struct PxOcrLine {
  int32_t wordCount;
  PxOcrWord* words;  // in reading order
} PxOcrLine;

typedef struct PxOcrText {
  int32_t width, height;  // the page's
  int32_t orientation;    // 0, 90, 180, 270: how far the page was turned clockwise to read it
  double skew;            // degrees turned clockwise after that to straighten the lines
  int32_t lineCount;
  PxOcrLine* lines;  // in reading order
} PxOcrText;

// Called as recognition goes on; returns 0 to cancel (PX_ERR_CANCELLED is then returned).
typedef int32_t (*PxOcrProgressFn)(void* user, int32_t percent);

// languages: Tesseract's names joined by '+' ("eng", "deu+eng"). The engine is kept per calling
// thread and language list, so a worker thread pays Tesseract's start-up once. On failure a message
// naming the cause (for a missing language the package to install) is written into `message`.
int32_t PxOcrRecognize(const PxPage* page, const char* languages, PxOcrProgressFn progress, void* user,
                       PxOcrText** out, char* message, size_t messageSize);
void PxOcrFree(PxOcrText* text);
// The installed languages, '+'-joined ("deu+eng"), without "osd"; 1 or PX_ERR_PARAMETER if too short.
int32_t PxOcrLanguages(char* buffer, size_t size);

// How far the page must be turned clockwise to stand upright (0, 90, 180, 270), by Tesseract's OSD
// on the engine PxOcrRecognize uses; *confidence is OSD's (1.5 and more is sure). A page without text
// fails with PX_ERR_FORMAT and a message; missing orientation data is PX_ERR_NO_LIBRARY.
int32_t PxOcrOrientation(const PxPage* page, int32_t* degrees, double* confidence, char* message,
                         size_t messageSize);

typedef int32_t (*PxOcrRecognizeFn)(const PxPage*, const char*, PxOcrProgressFn, void*, PxOcrText**, char*,
                                    size_t);
typedef void (*PxOcrFreeFn)(PxOcrText*);
typedef int32_t (*PxOcrLanguagesFn)(char*, size_t);
typedef int32_t (*PxOcrOrientationFn)(const PxPage*, int32_t*, double*, char*, size_t);

#ifdef __cplusplus
}
#endif
