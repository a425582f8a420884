// The C entry points of the toolkit's TWAIN library (libpxtwain.so, "pxtwain.dll"), resolved by the
// class library through GetProcAddress. One session is one SANE initialisation: open it, enumerate
// sources, set the property record (pxclass/PxTwainProps.h), acquire, close. Every entry point
// returns 1 (or a page count) on success and a negative PxTwnError on failure; no exception and no
// C++ type crosses this boundary. A session is used by one thread at a time.
#pragma once
#include <stdint.h>

#include "pxclass/PxPage.h"
#include "pxclass/PxTwainProps.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Codes of their own (-40 and below) beside the toolkit's PxError; a user's cancel is -29 in both. */
typedef enum PxTwnError {
  PX_TWN_OK = 1,
  PX_TWN_E_NO_MANAGER = -40, /* SANE could not be initialised */
  PX_TWN_E_NO_SOURCE = -41,  /* no such source, or none at all */
  PX_TWN_E_OPEN = -42,       /* the device would not open (busy, access denied, gone) */
  PX_TWN_E_ARGUMENT = -43,   /* a bad record, text too long, null pointer */
  PX_TWN_E_OPTION = -44,     /* the device refused a setting */
  PX_TWN_E_START = -45,      /* the scan would not start */
  PX_TWN_E_IO = -46,         /* the device failed while sending (unplugged, I/O error) */
  PX_TWN_E_JAMMED = -47,     /* paper jam */
  PX_TWN_E_NO_DOCS = -48,    /* the feeder is empty */
  PX_TWN_E_COVER_OPEN = -49,
  PX_TWN_E_STALLED = -50, /* no data for stallMs */
  PX_TWN_E_NO_MEMORY = -51,
  PX_TWN_E_FORMAT = -52,    /* a frame format or depth the library cannot deliver */
  PX_TWN_E_TOO_LARGE = -53, /* the page would exceed the page size limit */
  PX_TWN_E_STATE = -54,     /* wrong order of calls, or the session was abandoned after a stall */
  PX_TWN_E_NO_PAGE = -56,   /* the device ended the scan without a page */
  PX_TWN_E_UI = -57,        /* a window could not be shown */
  PX_TWN_E_CANCELLED = -29  /* the user cancelled */
} PxTwnError;

typedef struct PxTwnSession PxTwnSession;

/* Once per source; return 1 to go on, 0 to stop. */
typedef int (*PxTwnSourceFn)(void* context, const char* name);
/* Once per page; the receiver owns the page (free(page->pixels), then free(page)). 1 goes on, 0 stops
   (the rest of a feeder batch is cancelled; the acquisition still succeeds). */
typedef int (*PxTwnPageFn)(void* context, PxPage* page);
/* About ten times a second while a page is read (page from 1; total -1 when not known in advance).
   Return 0 to go on, 1 to cancel the scan. */
typedef int (*PxTwnProgressFn)(void* context, int page, long long done, long long total);

/* A page's rows as they arrive instead of the whole page (file transfer: the page goes straight to a
   file). begin: a page of 8-bit grey or 24-bit RGB rows and known height starts; 1 takes its rows, 0
   has this page delivered whole through `page` instead, negative fails the scan. rows: `count` rows of
   width * bits / 8 bytes, `stride` apart; 1 goes on, negative fails the scan. end: the page is over,
   with the rows that came (fewer than announced when the device sent fewer); ok 0 when the scan of it
   failed or was cancelled, and the receiver drops it; 1 or negative. After an end with ok 1, `page` is
   called with a null page. */
typedef struct PxTwnRowSink {
  int (*begin)(void* context, int page, int width, int height, int bitsPerPixel, int dpi);
  int (*rows)(void* context, const uint8_t* rows, int count, int stride);
  int (*end)(void* context, int rows, int ok);
} PxTwnRowSink;

typedef struct PxTwnAcquire {
  PxTwnPageFn page;         /* required */
  PxTwnProgressFn progress; /* may be null */
  void* context;
  int32_t preview;             /* 1: one low-resolution colour page of the whole area, nothing kept */
  int32_t maxPages;            /* 0: every page of the batch */
  const PxTwnRowSink* rowSink; /* may be null; never used for a preview */
} PxTwnAcquire;

/* What the chosen device offers, for the source's own dialog. Lengths in 1/1440 inch. */
#define PX_TWN_MAX_CHOICES 16
#define PX_TWN_CHOICE_LEN 63
typedef struct PxTwnDeviceOptions {
  int32_t pixelTypes;      /* bit (1 << PX_TWN_PIXEL_*) for each pixel type the device can give */
  int32_t resolutionCount; /* offered resolutions, ascending */
  int32_t resolutions[PX_TWN_MAX_CHOICES];
  int32_t maxWidth; /* the largest area; 0 when the device has no area options */
  int32_t maxHeight;
  int32_t hasBrightness;
  int32_t hasContrast;
  int32_t hasFeeder;
  int32_t sourceCount; /* the device's source names as SANE gives them */
  char sources[PX_TWN_MAX_CHOICES][PX_TWN_CHOICE_LEN + 1];
  int32_t hasPreview; /* the device has a preview mode (a preview is a low-resolution scan either way) */
} PxTwnDeviceOptions;

/* One installed source: the table the class library reads from the registry and hands in. */
typedef struct PxTwnSourceEntry {
  char name[PX_TWN_NAME_LEN + 1];
  char device[PX_TWN_DEVICE_LEN + 1];
} PxTwnSourceEntry;

int PxTwn_Open(PxTwnSession** session);
/* The installed sources, listed before the SANE devices they do not name (replaces the previous table;
   at most 256 entries; an entry with an empty or unterminated text is refused). */
int PxTwn_SetSourceTable(PxTwnSession* session, const PxTwnSourceEntry* entries, int count);
void PxTwn_Close(PxTwnSession* session);
int PxTwn_EnumSources(PxTwnSession* session, PxTwnSourceFn callback, void* context);
int PxTwn_GetProperties(PxTwnSession* session, PxTwainProps* props);
int PxTwn_SetProperties(PxTwnSession* session, const PxTwainProps* props, int flags);
/* The options of the source the record names (opens it). */
int PxTwn_GetDeviceOptions(PxTwnSession* session, PxTwnDeviceOptions* options);
/* Pages delivered (1 or more), or a negative code. */
int PxTwn_Acquire(PxTwnSession* session, const PxTwnAcquire* request);
/* The text of a code; never null. */
const char* PxTwn_ErrorText(int code);
/* What went wrong last in this session (the step and SANE's status text); never null. */
const char* PxTwn_LastError(PxTwnSession* session);

typedef int (*PxTwn_Open_t)(PxTwnSession**);
typedef void (*PxTwn_Close_t)(PxTwnSession*);
typedef int (*PxTwn_SetSourceTable_t)(PxTwnSession*, const PxTwnSourceEntry*, int);
typedef int (*PxTwn_EnumSources_t)(PxTwnSession*, PxTwnSourceFn, void*);
typedef int (*PxTwn_GetProperties_t)(PxTwnSession*, PxTwainProps*);
typedef int (*PxTwn_SetProperties_t)(PxTwnSession*, const PxTwainProps*, int);
typedef int (*PxTwn_GetDeviceOptions_t)(PxTwnSession*, PxTwnDeviceOptions*);
typedef int (*PxTwn_Acquire_t)(PxTwnSession*, const PxTwnAcquire*);
typedef const char* (*PxTwn_ErrorText_t)(int);
typedef const char* (*PxTwn_LastError_t)(PxTwnSession*);

#ifdef __cplusplus
}
#endif
