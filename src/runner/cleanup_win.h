// End-of-job cleanup: pictures of what the step left behind, the console lines naming it, and the
// picture request during the step.
#pragma once

namespace x5 {

struct Run;

// Pictures the step's remaining windows. With `killed_at_end` (the processes are about to be
// ended) it first names every one of them in the console, with its image and window titles, even
// when pictures are off, and afterwards names each process pictured.
void EndOfJobPictures(Run& run, bool killed_at_end);

// A "_X5C_" file in the global parameter directory asks for pictures without ending anything.
void PictureRequest(Run& run);

}  // namespace x5
