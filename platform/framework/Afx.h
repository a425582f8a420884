// The framework's free services the program relies on: the resource handle all string loads come from,
// message boxes captioned with the application name, string loads by number and the framework's
// one-placeholder formatting ("%1"). Callers: the system's own code (app/, log/, settings/, ui/ ...).
// A null resource handle means no resource library is loaded yet: string loads then fail.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"

void AfxSetResourceHandle(HMODULE module);
HMODULE AfxGetResourceHandle();

// MessageBoxA without owner and with the application name as caption. 0 when the box could not be shown.
int AfxMessageBox(const char* text, UINT type = 0);
int AfxMessageBox(const std::string& text, UINT type = 0);

// Loads a string of the current resource library. False and an empty text when it is missing.
bool AfxLoadString(UINT id, std::string& text);

// Loads string id and puts arg in place of every "%1". False and an empty text when the load fails.
bool AfxFormatString1(std::string& out, UINT id, const char* arg);
// The same on a text already loaded.
std::string AfxFormatText1(const std::string& format, const char* arg);
