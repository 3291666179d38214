// The two shared track arrays: element i (1-based) of each belongs to list row i - 1.
// The extraction run empties and refills them together with the list; the download run only
// reads them. They live for the whole process.
#pragma once

#include "text/text.h"

namespace ombrik {

extern TextArray TrackTitles;
extern TextArray TrackPlayPaths;

// Frees both arrays; the program runs it once after the window's event loop ends.
void ReleaseTrackArrays();

}  // namespace ombrik
