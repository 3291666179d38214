#include "catalogue/track_arrays.h"

namespace ombrik {

TextArray TrackTitles;
TextArray TrackPlayPaths;

void ReleaseTrackArrays() {
  TrackTitles.Clear();
  TrackPlayPaths.Clear();
}

}  // namespace ombrik
