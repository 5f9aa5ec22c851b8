// The message reporter: every outcome shown to the user goes through here.
#pragma once

#include <string>

#include "platform/platform.h"

enum MessageId : unsigned {
    kMessageInstallProblem = 300,
    kMessageInstalled = 301,
    kMessageUpToDate = 306,
    kMessageProductNotFound = 307,
    kMessageWrongVersion = 308,
    kMessageBadCommandLine = 309,
    kMessageNoPatchList = 310,
    kCaptionError = 311,
    kCaptionSuccess = 312,
    kCaptionUnnecessary = 313,
    kStringTargetVersion = 700,
    kStringCandidateVersions = 900,
};

// Size of a string load buffer, terminator included.
constexpr int kStringLoadChars = 256;

// The product name that messages 301, 306 and 308 insert.
extern std::u16string CurrentProductName;

// Loads string id of module into text (replaced in every case); returns the
// number of characters loaded, 0 when the string does not exist.
int LoadResourceString(win::HINSTANCE module, unsigned id, std::u16string& text, int maxChars);

// Shows message id in the thread locale's language, unless the run is quiet.
void ReportMessage(unsigned id);
